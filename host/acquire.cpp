#include "acquire.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <thread>
#ifdef _WIN32
#include <io.h>
#define LINKBAY_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define LINKBAY_ISATTY(fd) isatty(fd)
#endif

#include "commands.h"
#include "diagnosis.h"
#include "library_loader.h"
#include "spectrum_files.h"
#include "spectrum_record.h"

namespace linkbay_host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollInterval = std::chrono::milliseconds(200);
// Reading the spectrum for the count rate takes the line's time: not often.
constexpr int64_t kRateIntervalMs = 2000;
constexpr int kFailuresToLose = 3;  // exchanges in a row without an answer
constexpr int kBarWidth = 24;

volatile std::sig_atomic_t g_nStopSignal = 0;
void OnStopSignal(int nSignal) { g_nStopSignal = nSignal; }

using Watched = WatchedDetector;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

uint32_t PresetTicks(const Watched& watched) {
    return static_cast<uint32_t>(std::lround(watched.dPresetSeconds * kTicksPerSecond));
}

std::string Name(const AcquireTarget& target) {
    return "MCB " + std::to_string(target.nMcb) + (target.nDet != 1 ? " det " + std::to_string(target.nDet) : "");
}

std::string ErrorPair(const DialogResult& result) {
    return std::to_string(result.nMac) + "/" + std::to_string(result.nMic);
}

// The lines that set one target going, in order.
std::vector<std::string> StartLines(const AcquireRequest& request) {
    const long nTicks = std::lround(request.dPresetSeconds * kTicksPerSecond);
    std::vector<std::string> lines;
    if (request.bClear) lines.push_back("CLEAR");  // the counts and the times
    // The other preset off, so that an earlier one does not end the run first.
    lines.push_back(std::string("SET_LIVE_PRESET ") + (request.bLivePreset ? std::to_string(nTicks) : "0"));
    lines.push_back(std::string("SET_TRUE_PRESET ") + (request.bLivePreset ? "0" : std::to_string(nTicks)));
    lines.push_back("START");
    return lines;
}

bool StartTarget(AddinBase& addin, const AcquireRequest& request, const AcquireTarget& target, std::string& sError) {
    for (const std::string& sLine : StartLines(request)) {
        if (sLine == "START") addin.MarkStartTime(target.nMcb, target.nDet, 0);
        const DialogResult result = SendLine(addin, target.nMcb, target.nDet, sLine);
        if (!result.ok()) {
            sError = Name(target) + " refused '" + sLine + "' (error " + ErrorPair(result) +
                     "): check the preset against 'linkbay send " + std::to_string(target.nMcb) + " " +
                     std::to_string(target.nDet) + " " + sLine + "'";
            return false;
        }
    }
    return true;
}

void StopTarget(AddinBase& addin, const AcquireTarget& target) { SendLine(addin, target.nMcb, target.nDet, "STOP"); }

bool ReadTicks(AddinBase& addin, const AcquireTarget& target, const char* pszLine, uint32_t& dwTicks,
               DialogResult& result) {
    result = SendLine(addin, target.nMcb, target.nDet, pszLine);
    return result.ok() && RecordValue(result.sResponse, dwTicks);
}

void UpdateRate(AddinBase& addin, Watched& watched) {
    const int64_t nNow = NowMs();
    if (watched.bHasTotal && nNow - watched.nLastRateReadMs < kRateIntervalMs) return;
    const Spectrum spectrum = ReadWholeSpectrum(addin, watched.target.nMcb, watched.target.nDet, watched.nChannels);
    if (spectrum.nResult != 1) return;
    const uint64_t nTotal = std::accumulate(spectrum.counts.begin(), spectrum.counts.end(), uint64_t{0});
    if (watched.bHasTotal && watched.dwTrue > watched.dwLastTrue && nTotal >= watched.nLastTotal)
        watched.dRate = static_cast<double>(nTotal - watched.nLastTotal) * kTicksPerSecond /
                        (watched.dwTrue - watched.dwLastTrue);
    watched.bHasTotal = true;
    watched.nLastTotal = nTotal;
    watched.dwLastTrue = watched.dwTrue;
    watched.nLastRateReadMs = nNow;
}

void Poll(AddinBase& addin, Watched& watched) {
    DialogResult result;
    if (!ReadTicks(addin, watched.target, "SHOW_LIVE", watched.dwLive, result) ||
        !ReadTicks(addin, watched.target, "SHOW_TRUE", watched.dwTrue, result)) {
        if (++watched.nFailures >= kFailuresToLose) {
            watched.bLost = true;
            watched.sProblem = "no answer (error " + ErrorPair(result) + ")";
        }
        return;
    }
    watched.nFailures = 0;
    int32_t nStatus = 0;
    // An instrument that counts in coarser steps than it reports may stop a
    // little short of the preset as shown: it is done once it stops.
    const bool bActive = addin.IsDetectorActive(watched.target.nMcb, watched.target.nDet, &nStatus);
    watched.bDone = (watched.bLivePreset ? watched.dwLive : watched.dwTrue) >= PresetTicks(watched) || !bActive;
    if (!watched.bDone) UpdateRate(addin, watched);
}

std::string Bar(const Watched& watched) {
    char szLine[200];
    if (watched.bLost) {
        snprintf(szLine, sizeof szLine, "%-10s lost: %s", Name(watched.target).c_str(), watched.sProblem.c_str());
        return szLine;
    }
    const double dElapsed = (watched.bLivePreset ? watched.dwLive : watched.dwTrue) / double(kTicksPerSecond);
    const double dShare = std::min(1.0, dElapsed / watched.dPresetSeconds);
    const int nFilled = static_cast<int>(dShare * kBarWidth);
    const double dDead = watched.dwTrue > 0 ? 100.0 * (watched.dwTrue - std::min(watched.dwLive, watched.dwTrue)) / watched.dwTrue : 0;
    char szRate[32] = "    - cps";
    if (watched.dRate >= 0) snprintf(szRate, sizeof szRate, "%5.0f cps", watched.dRate);
    snprintf(szLine, sizeof szLine, "%-10s [%s%s] %7.1f/%.1f s %s  %s  dead %4.1f%%%s", Name(watched.target).c_str(),
             std::string(static_cast<size_t>(nFilled), '#').c_str(), std::string(static_cast<size_t>(kBarWidth - nFilled), '.').c_str(),
             dElapsed, watched.dPresetSeconds, watched.bLivePreset ? "live" : "true", szRate, dDead,
             watched.bDone ? "  done" : "");
    return szLine;
}

// A terminal gets its bars redrawn in place; a log gets them once a second.
class BarPrinter {
public:
    explicit BarPrinter(size_t nBars) : m_nBars(nBars), m_bTerminal(LINKBAY_ISATTY(1) != 0) {}
    void print(const std::vector<std::string>& bars, bool bLast) {
        const Clock::time_point now = Clock::now();
        if (!m_bTerminal && !bLast && now - m_lastPrint < std::chrono::seconds(1)) return;
        if (m_bTerminal && m_bDrawn) printf("\033[%zuA", m_nBars);
        for (const std::string& sBar : bars) printf(m_bTerminal ? "\r%s\033[K\n" : "acquiring %s\n", sBar.c_str());
        fflush(stdout);
        m_bDrawn = true;
        m_lastPrint = now;
    }

private:
    size_t m_nBars;
    bool m_bTerminal;
    bool m_bDrawn = false;
    Clock::time_point m_lastPrint;
};

// Reads and writes one target's spectrum; false with a message.
bool SaveTarget(AddinLibrary& library, const AcquireRequest& request, const Watched& watched, std::string& sError) {
    const AcquireTarget& target = watched.target;
    const SpectrumRecord record = ReadSpectrumRecord(library, target.nMcb, target.nDet);
    if (record.spectrum.nResult != 1) {
        sError = Name(target) + ": the spectrum could not be read (ReadSpectrum gave " +
                 std::to_string(record.spectrum.nResult) + ")";
        return false;
    }
    if (request.sOutput.empty()) {
        PrintSpectrumSummary(record.spectrum, Name(target).c_str());
        return true;
    }
    const std::string sPath = TargetOutputPath(request.sOutput, target, request.targets.size() > 1);
    SpectrumFormat format;
    std::string sText;
    if (!ChooseSpectrumFormat(request.sFormat, sPath, format, sError) ||
        !FormatSpectrum(record, format, sText, sError) || !WriteFileWhole(sPath, sText, sError))
        return false;
    printf("%s: %zu channels, %.2f s live, %.2f s true, written to %s\n", Name(target).c_str(),
           record.spectrum.counts.size(), record.liveSeconds(), record.trueSeconds(), sPath.c_str());
    return true;
}

}  // namespace

void WatchAcquisitions(AddinBase& addin, std::vector<WatchedDetector>& detectors,
                       const std::function<bool()>& stopRequested) {
    BarPrinter printer(detectors.size());
    for (;;) {
        bool bAllOver = true;
        std::vector<std::string> bars;
        for (Watched& item : detectors) {
            if (!item.bDone && !item.bLost && !stopRequested()) Poll(addin, item);
            bAllOver = bAllOver && (item.bDone || item.bLost);
            bars.push_back(Bar(item));
        }
        const bool bLast = bAllOver || stopRequested();
        printer.print(bars, bLast);
        if (bLast) return;
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool ParseAcquireTargets(const std::vector<std::string>& words, std::vector<AcquireTarget>& targets,
                         std::string& sError) {
    for (const std::string& sWord : words) {
        int32_t nValue = 0;
        if (ParseNumber(sWord.c_str(), LINKBAY_FIRST_MCB, LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT - 1, nValue)) {
            targets.push_back(AcquireTarget{nValue, 1});
        } else if (!targets.empty() && ParseNumber(sWord.c_str(), 1, LINKBAY_MAX_DETECTORS, nValue)) {
            targets.back().nDet = nValue;
        } else {
            sError = "'" + sWord + "' is neither an MCB (97..101) nor, after one, a detector number (1..32)";
            return false;
        }
    }
    if (targets.empty()) sError = "name at least one MCB (97..101)";
    return !targets.empty();
}

std::string TargetOutputPath(const std::string& sOutput, const AcquireTarget& target, bool bSeveral) {
    if (!bSeveral) return sOutput;
    const std::filesystem::path path(sOutput);
    std::string sStem = path.stem().string() + "-" + std::to_string(target.nMcb);
    if (target.nDet != 1) sStem += "-d" + std::to_string(target.nDet);
    return (path.parent_path() / (sStem + path.extension().string())).string();
}

int RunAcquire(AddinLibrary& library, const AcquireRequest& request) {
    AddinBase& addin = *library.addin();
    g_nStopSignal = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    addin.Open();
    std::vector<int32_t> mcbs;
    for (const AcquireTarget& target : request.targets) mcbs.push_back(target.nMcb);
    AwaitInterrogation(library, mcbs, Progress::Stderr);
    std::vector<Watched> watched;
    std::string sError;
    bool bFailed = false;
    for (const AcquireTarget& target : request.targets) {
        if (!addin.IsValidDetector(target.nMcb, target.nDet)) {
            sError = NoDetectorText(library, target.nMcb, target.nDet);
        } else if (StartTarget(addin, request, target, sError)) {
            watched.emplace_back();
            watched.back().target = target;
            watched.back().dPresetSeconds = request.dPresetSeconds;
            watched.back().bLivePreset = request.bLivePreset;
            watched.back().nChannels = ChannelsInUse(addin, target.nMcb, target.nDet);
            continue;
        }
        fprintf(stderr, "linkbay: acquire: %s\n", sError.c_str());
        for (const Watched& item : watched) StopTarget(addin, item.target);
        addin.Close();
        return 1;
    }
    WatchAcquisitions(addin, watched, [] { return g_nStopSignal != 0; });
    if (g_nStopSignal != 0) printf("interrupted: stopping the instruments and reading what they hold\n");
    for (Watched& item : watched) {
        if (item.bLost) {
            fprintf(stderr, "linkbay: acquire: lost %s (COM%d): %s; nothing written for it: check the instrument "
                    "and its line, then run again\n", Name(item.target).c_str(), item.target.nMcb - LINKBAY_FIRST_MCB + 1,
                    item.sProblem.c_str());
            bFailed = true;
            continue;
        }
        StopTarget(addin, item.target);
        if (!SaveTarget(library, request, item, sError)) {
            fprintf(stderr, "linkbay: acquire: %s\n", sError.c_str());
            bFailed = true;
        }
    }
    addin.Close();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return bFailed ? 1 : 0;
}

}  // namespace linkbay_host
