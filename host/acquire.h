// linkbay acquire: presets, start, a progress bar per detector, stop at the
// preset or on Ctrl-C (the instrument is stopped, the spectrum still read),
// and the spectra written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "linkbay/addin.h"

namespace linkbay_host {

class AddinLibrary;

struct AcquireTarget {
    int32_t nMcb = 0;
    int32_t nDet = 1;
};

struct AcquireRequest {
    std::vector<AcquireTarget> targets;
    double dPresetSeconds = 0;
    bool bLivePreset = true;  // else true time
    bool bClear = false;
    std::string sOutput;  // empty: a summary on standard output only
    std::string sFormat;
};

// One detector's acquisition as the watch follows it.
struct WatchedDetector {
    AcquireTarget target;
    double dPresetSeconds = 0;
    bool bLivePreset = true;
    int32_t nChannels = 0;  // in use, for the count rate; 0: the whole memory
    // What the watch found.
    uint32_t dwLive = 0;
    uint32_t dwTrue = 0;
    bool bDone = false;  // at its preset, or stopped
    bool bLost = false;  // no answer several times in a row
    std::string sProblem;
    int nFailures = 0;
    bool bHasTotal = false;
    uint64_t nLastTotal = 0;
    uint32_t dwLastTrue = 0;
    double dRate = -1;  // counts a second; below 0 while unknown
    int64_t nLastRateReadMs = 0;
};

// Polls the detectors until each is done or lost, or stopRequested() says
// so, with a progress bar each: elapsed against the preset, the count rate
// and the dead time from live and true time.
void WatchAcquisitions(AddinBase& addin, std::vector<WatchedDetector>& detectors,
                       const std::function<bool()>& stopRequested);

// "97 99 2 100": each MCB number, optionally followed by its detector; false
// with a message when the words are neither.
bool ParseAcquireTargets(const std::vector<std::string>& words, std::vector<AcquireTarget>& targets,
                         std::string& sError);

// The file of one target: FILE itself for one, FILE with "-MCB" (and
// "-dDET" past detector 1) before its extension for several.
std::string TargetOutputPath(const std::string& sOutput, const AcquireTarget& target, bool bSeveral);

// The exit code: 0 when every spectrum was written, 1 when an instrument
// refused or was lost (no file of it is left behind).
int RunAcquire(AddinLibrary& library, const AcquireRequest& request);

}  // namespace linkbay_host
