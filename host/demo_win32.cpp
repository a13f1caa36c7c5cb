// The demo's simulated instruments are native Linux programs serving
// pseudo-terminals; on Windows the host talks to real ports only.
#include <cstdio>

#include "demo.h"

namespace linkbay_host {

int RunDemo(const char*, const std::string&) {
    fprintf(stderr,
            "linkbay: demo: the simulated instruments run on Linux only; here use 'linkbay list' and\n"
            "'linkbay send MCB DET LINE' with instruments on COM1..COM5\n");
    return 1;
}

}  // namespace linkbay_host
