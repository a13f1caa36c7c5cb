// The "other process" of multi-process tests. It runs one command given on
// its command line, reports on standard output a line at a time, and ends
// when its standard input closes (or when it is killed).
#include <cstdio>
#include <cstring>

#include "helper_commands.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) {
        fprintf(stderr, "usage: %s COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    for (const linkbay::test::HelperCommand* table :
         {linkbay::test::kPortCommands, linkbay::test::kIpcCommands,
          linkbay::test::kProfileCommands}) {
        for (const linkbay::test::HelperCommand* p = table; p->pszName != nullptr; ++p) {
            if (strcmp(p->pszName, argv[1]) == 0) return p->pfnRun(argc - 2, argv + 2);
        }
    }
    fprintf(stderr, "%s: unknown command '%s'\n", argv[0], argv[1]);
    return 2;
}
