// Profile commands of the helper program: a writer that rewrites a profile
// file in a loop until it is killed, so tests can interrupt writes anywhere.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "helper_commands.h"
#include "platform/platform.h"

namespace linkbay {
namespace test {

// profile-write-loop FILE SECTION FILL: writes keys k0..k3 of SECTION in
// order, round after round, each with the value "<round>:" FILL times 'x'
// ":<round>", so that a cut value shows at either end. Prints "ready" once
// the first round is written.
int ProfileWriteLoopCommand(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string sFill(static_cast<size_t>(atol(argv[2])), 'x');
    for (long nRound = 1;; ++nRound) {
        const std::string sValue = std::to_string(nRound) + ":" + sFill + ":" + std::to_string(nRound);
        for (int nKey = 0; nKey < 4; ++nKey) {
            if (!WritePrivateProfileStringA(argv[1], ("k" + std::to_string(nKey)).c_str(), sValue.c_str(), argv[0])) {
                printf("error %u\n", static_cast<unsigned>(GetLastError()));
                return 1;
            }
        }
        if (nRound == 1) printf("ready\n");
    }
}

}  // namespace test
}  // namespace linkbay
