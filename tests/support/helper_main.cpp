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
    using namespace linkbay::test;
    const struct {
        const char* pszName;
        int (*pfnRun)(int argc, char** argv);
    } kCommands[] = {{"open-port", OpenPortCommand},
                     {"lock-mutex", LockMutexCommand},
                     {"map", MapCommand},
                     {"churn", ChurnCommand},
                     {"profile-write-loop", ProfileWriteLoopCommand},
                     {"profile-write-keys", ProfileWriteKeysCommand},
                     {"profile-peak-memory", ProfilePeakMemoryCommand}};
    setvbuf(stdout, nullptr, _IONBF, 0);
    for (const auto& command : kCommands) {
        if (argc >= 2 && strcmp(command.pszName, argv[1]) == 0) return command.pfnRun(argc - 2, argv + 2);
    }
    fprintf(stderr, "usage: %s COMMAND [ARGS...]: no such command\n", argv[0]);
    return 2;
}
