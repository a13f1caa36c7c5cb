// linkbay: the host program. It loads the add-in library as every host does
// and drives it through the public interface only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "acquire.h"
#include "commands.h"
#include "demo.h"
#include "diagnosis.h"
#include "library_loader.h"
#ifdef LINKBAY_HOST_PLOT
#include "plot.h"
#endif
#ifdef LINKBAY_HOST_SHELL
#include "shell.h"
#endif
#include "spectrum_files.h"
#include "spectrum_record.h"

namespace {

using linkbay_host::AddinLibrary;
using linkbay_host::Progress;

// Exit codes: done, refused by the instrument or the add-in, bad usage.
constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

#if defined(LINKBAY_HOST_N42) && defined(LINKBAY_HOST_PLOT) && defined(LINKBAY_HOST_SHELL)
constexpr const char* kBuildNote = "\nplot, shell and n42 files are Linux-only: their libraries have no Windows build.";
#else
constexpr const char* kBuildNote =
    "\nThis Windows build has no plot or shell command and writes csv, spe and json, not n42: their libraries "
    "have no Windows build.";
#endif

constexpr const char* kFooter =
    "MCB is 97..101 for the ports COM1..COM5; DET is a detector number from 1.\n"
    "The library is found with --library, else $LINKBAY_LIBRARY, else beside this program.\n"
    "DETHUB.INI is read from $LINKBAY_WINDIR; port n is the device in $LINKBAY_COMn.\n"
    "Exit codes: 0 done, 1 the instrument or the add-in refused, 2 bad usage.";

// What the command line asked for.
struct Request {
    std::string sLibrary;
    int32_t nMcb = 0;
    int32_t nDet = 1;
    std::vector<std::string> lineWords;
    bool bJson = false;
    bool bNoOpen = false;
    std::string sOutput;
    std::string sFormat;
    std::vector<std::string> targetWords;
    double dLiveSeconds = 0;
    double dTrueSeconds = 0;
    bool bClear = false;
    std::string sSource;
    std::string sPicture = "spectrum.png";
    bool bLog = false;
    int nWidth = 1000;
    int nHeight = 600;
};

CLI::Validator NumberIn(long nLow, long nHigh, const std::string& sWhat) {
    return CLI::Validator(
        [=](std::string& sText) {
            int32_t nValue = 0;
            return linkbay_host::ParseNumber(sText.c_str(), nLow, nHigh, nValue)
                       ? std::string()
                       : "'" + sText + "' is not " + sWhat;
        },
        std::to_string(nLow) + ".." + std::to_string(nHigh));
}

void AddMcbAndDetector(CLI::App& command, Request& request, bool bDetectorRequired) {
    command.add_option("MCB", request.nMcb, "97..101 for COM1..COM5")
        ->required()
        ->check(NumberIn(LINKBAY_FIRST_MCB, LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT - 1,
                         "one of 97..101 (the ports COM1..COM5)"));
    CLI::Option* pDet = command.add_option("DET", request.nDet, "detector number, from 1")
                            ->check(NumberIn(1, LINKBAY_MAX_DETECTORS, "a detector number from 1 to 32"));
    if (bDetectorRequired) pDet->required();
}

int32_t ProcessCount(const AddinLibrary& library) { return *library.header()->m_pnProcesses; }

int Fail(const std::string& sMessage) {
    fprintf(stderr, "linkbay: %s\n", sMessage.c_str());
    return kExitRefused;
}

// Prints what it finds also when the add-in is not shared, and then fails.
int RunInfo(AddinLibrary& library) {
    AddinBase& addin = *library.addin();
    const LinkbayAddinHeader& header = *library.header();
    addin.Open();
    printf("name            %s\n", header.m_szName);
    printf("first MCB       %d\n", header.m_nFirstMCB);
    printf("MCB count       %d\n", header.m_nMCBCount);
    printf("host value      %d\n", header.m_nHostValue);
    printf("mutex           %s\n", header.m_hMutex != nullptr ? "open" : "NOT OPEN");
    printf("shared table    %s\n", linkbay_host::HasSharedTable(library) ? "yes" : "NO (private memory)");
    printf("processes open  %d\n", ProcessCount(library));
    addin.Close();
    fflush(stdout);  // the values first, then why they are wrong
    const std::string sProblem = linkbay_host::SharingProblem(library);
    return sProblem.empty() ? kExitDone : Fail(sProblem);
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
    return kExitDone;
}

std::vector<int32_t> EveryMcb() {
    std::vector<int32_t> mcbs;
    for (int32_t nMcb = LINKBAY_FIRST_MCB; nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT; ++nMcb) mcbs.push_back(nMcb);
    return mcbs;
}

int RunList(AddinLibrary& library, bool bJson) {
    library.addin()->Open();
    linkbay_host::AwaitInterrogation(library, EveryMcb(), bJson ? Progress::Silent : Progress::Stdout);
    if (bJson)
        linkbay_host::PrintDetectorsJson(library);
    else
        linkbay_host::PrintDetectors(library);
    library.addin()->Close();
    return kExitDone;
}

// The words after DET form the line, so it need not be quoted.
std::string JoinedLine(const std::vector<std::string>& words) {
    std::string sLine;
    for (const std::string& sWord : words) sLine += (sLine.empty() ? "" : " ") + sWord;
    return sLine;
}

int RunSend(AddinLibrary& library, const Request& request) {
    AddinBase& addin = *library.addin();
    const std::string sLine = JoinedLine(request.lineWords);
    addin.Open();
    linkbay_host::AwaitInterrogation(library, {request.nMcb}, request.bJson ? Progress::Silent : Progress::Stdout);
    const linkbay_host::DialogResult result = linkbay_host::SendLine(addin, request.nMcb, request.nDet, sLine);
    const std::vector<std::string> causes =
        !result.bServed && result.nMac == -9 ? linkbay_host::DetectorCauses(library, request.nMcb, request.nDet)
                                             : std::vector<std::string>();
    addin.Close();
    if (request.bJson)
        linkbay_host::PrintDialogResultJson(result, request.nMcb, request.nDet, sLine, causes);
    else
        linkbay_host::PrintDialogResult(result, causes);
    return result.ok() ? kExitDone : kExitRefused;
}

int RunRead(AddinLibrary& library, const Request& request) {
    linkbay_host::SpectrumFormat format;
    std::string sError;
    if (!linkbay_host::ChooseSpectrumFormat(request.sFormat, request.sOutput, format, sError)) {
        fprintf(stderr, "linkbay: read: %s\n", sError.c_str());
        return kExitUsage;
    }
    AddinBase& addin = *library.addin();
    addin.Open();
    linkbay_host::AwaitInterrogation(library, {request.nMcb}, Progress::Stderr);
    if (!addin.IsValidDetector(request.nMcb, request.nDet)) {
        const std::string sText = linkbay_host::NoDetectorText(library, request.nMcb, request.nDet);
        addin.Close();
        return Fail("read: " + sText);
    }
    const linkbay_host::SpectrumRecord record = linkbay_host::ReadSpectrumRecord(library, request.nMcb, request.nDet);
    addin.Close();
    if (record.spectrum.nResult != 1)
        return Fail("read: the spectrum could not be read (ReadSpectrum gave " +
                    std::to_string(record.spectrum.nResult) + "); check the instrument and try again");
    std::string sText;
    if (!linkbay_host::FormatSpectrum(record, format, sText, sError)) return Fail("read: " + sError);
    if (request.sOutput.empty()) {
        fwrite(sText.data(), 1, sText.size(), stdout);
        return kExitDone;
    }
    if (!linkbay_host::WriteFileWhole(request.sOutput, sText, sError)) return Fail("read: " + sError);
    printf("%s: %zu channels written\n", request.sOutput.c_str(), record.spectrum.counts.size());
    return kExitDone;
}

int RunAcquireCommand(AddinLibrary& library, const Request& request) {
    linkbay_host::AcquireRequest acquire;
    std::string sError;
    if (!linkbay_host::ParseAcquireTargets(request.targetWords, acquire.targets, sError)) {
        fprintf(stderr, "linkbay: acquire: %s\n", sError.c_str());
        return kExitUsage;
    }
    acquire.bLivePreset = request.dLiveSeconds > 0;
    acquire.dPresetSeconds = acquire.bLivePreset ? request.dLiveSeconds : request.dTrueSeconds;
    acquire.bClear = request.bClear;
    acquire.sOutput = request.sOutput;
    acquire.sFormat = request.sFormat;
    linkbay_host::SpectrumFormat format;
    if (!linkbay_host::ChooseSpectrumFormat(request.sFormat, request.sOutput, format, sError)) {
        fprintf(stderr, "linkbay: acquire: %s\n", sError.c_str());
        return kExitUsage;
    }
    return linkbay_host::RunAcquire(library, acquire);
}

#ifdef LINKBAY_HOST_PLOT
// SOURCE is an MCB, whose spectrum is read now, or a spectrum file.
int RunPlot(AddinLibrary* pLibrary, const Request& request) {
    linkbay_host::SpectrumRecord record;
    std::string sError;
    if (pLibrary == nullptr) {
        if (!linkbay_host::LoadSpectrumFile(request.sSource, record, sError)) return Fail("plot: " + sError);
    } else {
        AddinBase& addin = *pLibrary->addin();
        addin.Open();
        linkbay_host::AwaitInterrogation(*pLibrary, {request.nMcb}, Progress::Stderr);
        if (!addin.IsValidDetector(request.nMcb, request.nDet)) {
            sError = linkbay_host::NoDetectorText(*pLibrary, request.nMcb, request.nDet);
            addin.Close();
            return Fail("plot: " + sError);
        }
        record = linkbay_host::ReadSpectrumRecord(*pLibrary, request.nMcb, request.nDet);
        addin.Close();
        if (record.spectrum.nResult != 1)
            return Fail("plot: the spectrum could not be read (ReadSpectrum gave " +
                        std::to_string(record.spectrum.nResult) + "); check the instrument and try again");
    }
    linkbay_host::PlotRequest plot{request.sPicture, request.bLog, request.nWidth, request.nHeight};
    if (!linkbay_host::PlotSpectrum(record, plot, sError)) return Fail("plot: " + sError);
    printf("%s: %zu channels drawn\n", request.sPicture.c_str(), record.spectrum.counts.size());
    return kExitDone;
}
#endif

// Every command but demo loads the add-in first; demo sets up the
// environment the library reads before it loads it. Only info goes on with
// an add-in that is not shared, to show what it has.
using Runner = std::function<int(AddinLibrary&)>;

int RunWithLibrary(const std::string& sLibrary, bool bEvenUnshared, const Runner& run) {
    AddinLibrary library;
    if (!library.load(sLibrary)) {
        fprintf(stderr, "linkbay: %s\n", library.error().c_str());
        fprintf(stderr, "linkbay: build the library first, or name it with --library PATH\n");
        return kExitRefused;
    }
    const std::string sProblem = linkbay_host::SharingProblem(library);
    if (!sProblem.empty() && !bEvenUnshared) return Fail(sProblem);
    return run(library);
}

// CLI11 reports a misspelt command as a missing one; say what was wrong.
bool NamesUnknownCommand(CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string sWord = argv[i];
        if (sWord == "--library") {
            ++i;
            continue;
        }
        if (sWord.compare(0, 1, "-") == 0) continue;
        for (const CLI::App* pCommand : app.get_subcommands({}))
            if (pCommand->get_name() == sWord) return false;
        std::string sNames;
        for (const CLI::App* pCommand : app.get_subcommands({})) sNames += (sNames.empty() ? "" : ", ") + pCommand->get_name();
        fprintf(stderr, "linkbay: unknown command '%s': the commands are %s (linkbay --help)\n", sWord.c_str(),
                sNames.c_str());
        return true;
    }
    return false;
}

std::string LibraryPath(const Request& request, const char* pszArgv0) {
    if (!request.sLibrary.empty()) return request.sLibrary;
    const char* pszLibrary = getenv("LINKBAY_LIBRARY");
    return pszLibrary != nullptr && *pszLibrary != '\0' ? pszLibrary : linkbay_host::DefaultLibraryPath(pszArgv0);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("linkbay: reach multichannel analysers through the Linkbay add-in", "linkbay");
    app.footer(std::string(kFooter) + kBuildNote);
    app.require_subcommand(1);
    Request request;
    app.add_option("--library", request.sLibrary, "the add-in library to load")->type_name("PATH");

    CLI::App* pList = app.add_subcommand("list", "every detector: MCB, port, family, version, inputs, channels, "
                                                 "description and lock");
    pList->add_flag("--json", request.bJson, "one JSON object for scripts");
    CLI::App* pSend = app.add_subcommand("send", "send one command line (e.g. send 97 1 SHOW_VERSION) and print the "
                                                 "response records, the error pair and the length");
    pSend->add_flag("--json", request.bJson, "one JSON object for scripts");
    AddMcbAndDetector(*pSend, request, true);
    pSend->add_option("LINE", request.lineWords, "the command line; the words after DET form it")->required();
    CLI::App* pRead = app.add_subcommand("read", "read the current spectrum and write it to a file or standard output");
    AddMcbAndDetector(*pRead, request, false);
    pRead->add_option("--output,-o", request.sOutput, "the file; its extension picks the format")->type_name("FILE");
    pRead->add_option("--format,-f", request.sFormat, linkbay_host::SpectrumFormatNames() + " (default: from FILE, else csv)")
        ->type_name("FORMAT");
    CLI::App* pAcquire = app.add_subcommand("acquire", "set a preset, start, show the progress, stop at the preset or on "
                                                       "Ctrl-C, and save or summarise the spectrum");
    pAcquire->add_option("MCB", request.targetWords, "one or more MCBs (97..101), each optionally followed by its "
                                                     "detector (from 1): acquire 97 99 2")
        ->required();
    // Up to ten days in ticks of 20 ms: far within what a preset record holds.
    const auto presetRange = CLI::Range(linkbay_host::kSecondsPerTick, 864000.0);
    CLI::Option* pLive = pAcquire->add_option("--live", request.dLiveSeconds, "live-time preset in seconds")
                             ->check(presetRange)
                             ->type_name("S");
    CLI::Option* pTrue = pAcquire->add_option("--true", request.dTrueSeconds, "true-time (real) preset in seconds")
                             ->check(presetRange)
                             ->type_name("S");
    pLive->excludes(pTrue);
    pAcquire->add_flag("--clear", request.bClear, "clear the spectrum and the times first");
    pAcquire->add_option("--output,-o", request.sOutput, "the file (several MCBs: FILE-MCB.ext each); its extension "
                                                         "picks the format; without it a summary is printed")
        ->type_name("FILE");
    pAcquire->add_option("--format,-f", request.sFormat, linkbay_host::SpectrumFormatNames())->type_name("FORMAT");
#ifdef LINKBAY_HOST_PLOT
    CLI::App* pPlot = app.add_subcommand("plot", "a picture of a spectrum (PNG or SVG): counts against channel, ROIs "
                                                 "shaded, the detector and its times in the title");
    pPlot->add_option("SOURCE", request.sSource, "an MCB (97..101), read now, or a .csv, .spe or .n42 file")->required();
    pPlot->add_option("DET", request.nDet, "the MCB's detector, from 1")
        ->check(NumberIn(1, LINKBAY_MAX_DETECTORS, "a detector number from 1 to 32"));
    pPlot->add_option("--output,-o", request.sPicture, "the picture: .png or .svg (default spectrum.png)")->type_name("FILE");
    pPlot->add_flag("--log", request.bLog, "logarithmic counts");
    pPlot->add_option("--width", request.nWidth, "pixels (default 1000)")->check(CLI::Range(200, 10000));
    pPlot->add_option("--height", request.nHeight, "pixels (default 600)")->check(CLI::Range(200, 10000));
#endif
#ifdef LINKBAY_HOST_SHELL
    CLI::App* pShell = app.add_subcommand("shell", "command lines to one detector with line editing, history and Tab "
                                                   "completion; answers shown raw and in words; reads standard input "
                                                   "when it is not a terminal");
    AddMcbAndDetector(*pShell, request, false);
#endif
    CLI::App* pDemo = app.add_subcommand("demo", "simulated instruments of every family, then list, a few command lines "
                                                 "and their spectra; cleans up after itself (also on Ctrl-C)");
    CLI::App* pInfo = app.add_subcommand("info", "open the add-in, print its header values, close it");
    CLI::App* pHold = app.add_subcommand("hold", "open the add-in and keep it open; reads processes, open, close, quit and "
                                                 "read MCB DET FIRST COUNT from standard input, one a line");
    pHold->add_flag("--no-open", request.bNoOpen, "start with the add-in loaded but not open");

    if (argc < 2) {
        fprintf(stderr, "%s", app.help().c_str());
        return kExitUsage;
    }
    if (NamesUnknownCommand(app, argc, argv)) return kExitUsage;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int nExit = app.exit(error);
        return nExit == 0 ? kExitDone : kExitUsage;
    }

    if (pAcquire->parsed() && pLive->count() + pTrue->count() == 0) {
        fprintf(stderr, "linkbay: acquire needs a preset: --live S or --true S (linkbay acquire --help)\n");
        return kExitUsage;
    }
    const std::string sLibrary = LibraryPath(request, argv[0]);
#ifdef LINKBAY_HOST_PLOT
    const bool bPlotFromInstrument = linkbay_host::ParseNumber(request.sSource.c_str(), LINKBAY_FIRST_MCB,
                                                               LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT - 1, request.nMcb);
    if (pPlot->parsed() && !bPlotFromInstrument) return RunPlot(nullptr, request);
#endif
    if (pDemo->parsed()) return linkbay_host::RunDemo(argv[0], sLibrary);
    return RunWithLibrary(sLibrary, pInfo->parsed(), [&](AddinLibrary& library) {
        if (pList->parsed()) return RunList(library, request.bJson);
        if (pSend->parsed()) return RunSend(library, request);
        if (pRead->parsed()) return RunRead(library, request);
        if (pAcquire->parsed()) return RunAcquireCommand(library, request);
#ifdef LINKBAY_HOST_PLOT
        if (pPlot->parsed()) return RunPlot(&library, request);
#endif
#ifdef LINKBAY_HOST_SHELL
        if (pShell->parsed()) return linkbay_host::RunShell(library, request.nMcb, request.nDet);
#endif
        if (pInfo->parsed()) return RunInfo(library);
        if (pHold->parsed()) return RunHold(library, !request.bNoOpen);
        return kExitUsage;
    });
}
