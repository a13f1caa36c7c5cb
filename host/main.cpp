// linkbay: the host program. It loads the add-in library as every host does
// and drives it through the public interface only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "library_loader.h"

namespace {

using linkbay_host::AddinLibrary;

void PrintUsage(FILE* pStream) {
    fprintf(pStream,
            "usage: linkbay [--library PATH] COMMAND\n"
            "\n"
            "commands:\n"
            "  info    open the add-in, print its header values, close it\n"
            "  hold    open the add-in and keep it open; reads commands from standard input,\n"
            "          one per line (processes, open, close, quit), and closes at the end of input\n"
            "\n"
            "The library is found with --library, else $LINKBAY_LIBRARY, else beside this program.\n");
}

int32_t ProcessCount(const AddinLibrary& library) { return *library.header()->m_pnProcesses; }

int RunInfo(AddinLibrary& library) {
    AddinBase& addin = *library.addin();
    const LinkbayAddinHeader& header = *library.header();
    addin.Open();
    printf("name            %s\n", header.m_szName);
    printf("first MCB       %d\n", header.m_nFirstMCB);
    printf("MCB count       %d\n", header.m_nMCBCount);
    printf("host value      %d\n", header.m_nHostValue);
    printf("mutex           %s\n", header.m_hMutex != nullptr ? "open" : "NOT OPEN");
    printf("processes open  %d\n", ProcessCount(library));
    addin.Close();
    return 0;
}

// Keeps the add-in open for tests and demonstrations that need another process.
int RunHold(AddinLibrary& library, bool bOpenAtStart) {
    AddinBase& addin = *library.addin();
    int nOpen = 0;
    if (bOpenAtStart) {
        addin.Open();
        ++nOpen;
    }
    printf("READY processes=%d\n", ProcessCount(library));
    fflush(stdout);
    std::string sLine;
    while (std::getline(std::cin, sLine) && sLine != "quit") {
        if (sLine == "open") {
            addin.Open();
            ++nOpen;
        } else if (sLine == "close" && nOpen > 0) {
            addin.Close();
            --nOpen;
        } else if (sLine != "processes") {
            printf("ERROR unknown command '%s' (processes, open, close, quit)\n", sLine.c_str());
            fflush(stdout);
            continue;
        }
        printf("OK processes=%d\n", ProcessCount(library));
        fflush(stdout);
    }
    for (; nOpen > 0; --nOpen) addin.Close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string sLibrary;
    int nArg = 1;
    if (nArg + 1 < argc && strcmp(argv[nArg], "--library") == 0) {
        sLibrary = argv[nArg + 1];
        nArg += 2;
    }
    if (nArg >= argc || strcmp(argv[nArg], "--help") == 0) {
        PrintUsage(nArg >= argc ? stderr : stdout);
        return nArg >= argc ? 2 : 0;
    }
    if (sLibrary.empty()) {
        const char* pszLibrary = getenv("LINKBAY_LIBRARY");
        sLibrary = pszLibrary != nullptr && *pszLibrary != '\0' ? pszLibrary
                                                                : linkbay_host::DefaultLibraryPath(argv[0]);
    }
    AddinLibrary library;
    if (!library.load(sLibrary)) {
        fprintf(stderr, "linkbay: %s\n", library.error().c_str());
        fprintf(stderr, "linkbay: build the library first, or name it with --library PATH\n");
        return 1;
    }
    const std::string sCommand = argv[nArg];
    if (sCommand == "info") return RunInfo(library);
    if (sCommand == "hold") return RunHold(library, nArg + 1 >= argc || strcmp(argv[nArg + 1], "--no-open") != 0);
    fprintf(stderr, "linkbay: unknown command '%s'\n\n", sCommand.c_str());
    PrintUsage(stderr);
    return 2;
}
