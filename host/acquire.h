// linkbay acquire: presets, start, a progress bar per detector, stop at the
// preset or on Ctrl-C (the instrument is stopped, the spectrum still read),
// and the spectra written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
