// The "other process" of multi-process tests. It runs one command given on
// its command line, reports on standard output a line at a time, and ends
// when its standard input closes (or when it is killed).
#include <cstdio>
#include <cstring>
#include <iostream>

#include "helper_commands.h"

namespace linkbay {
namespace test {

bool ReadInputLine(std::string* psLine) { return static_cast<bool>(std::getline(std::cin, *psLine)); }

void WaitForInputToClose() {
    std::string sLine;
    while (ReadInputLine(&sLine)) {
    }
}

}  // namespace test
}  // namespace linkbay

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    for (const linkbay::test::HelperCommand* table :
         {linkbay::test::kPortCommands, linkbay::test::kIpcCommands, linkbay::test::kProfileCommands}) {
        for (const linkbay::test::HelperCommand* p = table; argc >= 2 && p->pszName != nullptr; ++p) {
            if (strcmp(p->pszName, argv[1]) == 0) return p->pfnRun(argc - 2, argv + 2);
        }
    }
    fprintf(stderr, "usage: %s COMMAND [ARGS...]: no such command\n", argv[0]);
    return 2;
}
