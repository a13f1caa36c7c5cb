// linkbay: the host program. It loads the add-in library as every host does
// and drives it through the public interface only.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "commands.h"
#include "demo.h"
#include "library_loader.h"

namespace {

using linkbay_host::AddinLibrary;

constexpr int kExitUsage = 2;
constexpr const char* kCommands[] = {"list", "send", "demo", "info", "hold"};

bool IsCommand(const std::string& sName) {
    for (const char* pszCommand : kCommands)
        if (sName == pszCommand) return true;
    return false;
}

void PrintUsage(FILE* pStream) {
    fprintf(pStream,
            "usage: linkbay [--library PATH] COMMAND [ARGUMENTS]\n"
            "\n"
            "commands:\n"
            "  list                 every detector: MCB, port, family, version, inputs, channels,\n"
            "                       description and lock\n"
            "  send MCB DET LINE    send one command line (e.g. send 97 1 SHOW_VERSION) and print\n"
            "                       the response records, the error pair and the length; exit code 0\n"
            "                       when the line was served without error\n"
            "  demo                 simulated instruments on COM1 and COM3, then list, a few command\n"
            "                       lines and a spectrum; cleans up after itself (also on Ctrl-C)\n"
            "  info                 open the add-in, print its header values, close it\n"
            "  hold                 open the add-in and keep it open; reads commands from standard\n"
            "                       input, one per line (processes, open, close, quit, and\n"
            "                       read MCB DET FIRST COUNT for channel words), and closes at the\n"
            "                       end of input\n"
            "\n"
            "MCB is 97..101 for the ports COM1..COM5; DET is a detector number from 1.\n"
            "The library is found with --library, else $LINKBAY_LIBRARY, else beside this program.\n"
            "DETHUB.INI is read from $LINKBAY_WINDIR; port n is the device in $LINKBAY_COMn.\n");
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
// "MCB DET FIRST COUNT": the result of ReadSpectrum and the channel words.
void PrintChannels(AddinBase& addin, const char* pszArguments) {
    constexpr int kMaxChannels = 64;
    int nMcb = 0, nDet = 0, nFirst = 0, nCount = 0;
    char chExtra = 0;
    if (sscanf(pszArguments, "%d %d %d %d %c", &nMcb, &nDet, &nFirst, &nCount, &chExtra) != 4 || nCount < 0 ||
        nCount > kMaxChannels) {
        printf("ERROR read wants MCB DET FIRST COUNT, COUNT up to %d\n", kMaxChannels);
        fflush(stdout);
        return;
    }
    uint32_t dwWords[kMaxChannels] = {};
    const int32_t nResult = addin.ReadSpectrum(nMcb, nDet, nullptr, nullptr, 0, nFirst, nCount, 0, dwWords);
    printf("OK result=%d", nResult);
    for (int i = 0; i < nCount; ++i) printf(" %u", dwWords[i]);
    printf("\n");
    fflush(stdout);
}

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
        } else if (sLine.compare(0, 5, "read ") == 0) {
            PrintChannels(addin, sLine.c_str() + 5);
            continue;
        } else if (sLine != "processes") {
            printf("ERROR unknown command '%s' (processes, open, close, read, quit)\n", sLine.c_str());
            fflush(stdout);
            continue;
        }
        printf("OK processes=%d\n", ProcessCount(library));
        fflush(stdout);
    }
    for (; nOpen > 0; --nOpen) addin.Close();
    return 0;
}

// Another process may have asked a port moments ago; the add-in asks a
// port again only 2000 ms after the last time, so wait that out once.
int RunList(AddinLibrary& library) {
    library.addin()->Open();
    if (linkbay_host::HasSilentPorts(library)) {
        printf("a configured port did not answer yet; asking again in 2 s ...\n");
        fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        library.addin()->EnumerateDetectors();
    }
    linkbay_host::PrintDetectors(library);
    library.addin()->Close();
    return 0;
}

struct SendRequest {
    int32_t nMcb = 0;
    int32_t nDet = 0;
    std::string sLine;
};

// The rest of the arguments form the line, so it need not be quoted.
bool ParseSendArguments(int argc, char** argv, int nArg, SendRequest& request) {
    if (argc - nArg < 3) {
        fprintf(stderr, "linkbay: send needs MCB DET LINE, e.g. 'linkbay send 97 1 SHOW_VERSION'\n");
        return false;
    }
    if (!linkbay_host::ParseNumber(argv[nArg], LINKBAY_FIRST_MCB, LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT - 1,
                                   request.nMcb)) {
        fprintf(stderr, "linkbay: MCB '%s' is not one of 97..101 (the ports COM1..COM5)\n", argv[nArg]);
        return false;
    }
    if (!linkbay_host::ParseNumber(argv[nArg + 1], 1, LINKBAY_MAX_DETECTORS, request.nDet)) {
        fprintf(stderr, "linkbay: DET '%s' is not a detector number from 1 to %d\n", argv[nArg + 1],
                LINKBAY_MAX_DETECTORS);
        return false;
    }
    request.sLine = argv[nArg + 2];
    for (int i = nArg + 3; i < argc; ++i) request.sLine += std::string(" ") + argv[i];
    return true;
}

int RunSend(AddinLibrary& library, const SendRequest& request) {
    AddinBase& addin = *library.addin();
    addin.Open();
    const linkbay_host::DialogResult result = linkbay_host::SendLine(addin, request.nMcb, request.nDet, request.sLine);
    addin.Close();
    linkbay_host::PrintDialogResult(result, request.nMcb);
    return result.ok() ? 0 : 1;
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
        return nArg >= argc ? kExitUsage : 0;
    }
    if (sLibrary.empty()) {
        const char* pszLibrary = getenv("LINKBAY_LIBRARY");
        sLibrary = pszLibrary != nullptr && *pszLibrary != '\0' ? pszLibrary
                                                                : linkbay_host::DefaultLibraryPath(argv[0]);
    }
    const std::string sCommand = argv[nArg];
    if (!IsCommand(sCommand)) {
        fprintf(stderr, "linkbay: unknown command '%s'\n\n", sCommand.c_str());
        PrintUsage(stderr);
        return kExitUsage;
    }
    SendRequest request;
    if (sCommand == "send" && !ParseSendArguments(argc, argv, nArg + 1, request)) return kExitUsage;
    // The demo sets up the environment the library reads before it loads it.
    if (sCommand == "demo") return linkbay_host::RunDemo(argv[0], sLibrary);
    AddinLibrary library;
    if (!library.load(sLibrary)) {
        fprintf(stderr, "linkbay: %s\n", library.error().c_str());
        fprintf(stderr, "linkbay: build the library first, or name it with --library PATH\n");
        return 1;
    }
    if (sCommand == "list") return RunList(library);
    if (sCommand == "send") return RunSend(library, request);
    if (sCommand == "info") return RunInfo(library);
    return RunHold(library, nArg + 1 >= argc || strcmp(argv[nArg + 1], "--no-open") != 0);
}
