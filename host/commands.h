// The host program's commands that talk to detectors, written against the
// public interface only, so the demo can run them in its own process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "answer_records.h"
#include "linkbay/addin.h"

namespace linkbay_host {

class AddinLibrary;

// "COM1" for MCB 97; a device type's family as a person reads it.
std::string PortName(int32_t nMcb);
const char* FamilyName(int32_t nDeviceType);

// One detector as the listing shows it.
struct DetectorRow {
    int32_t nMcb = 0;
    int32_t nDet = 0;
    std::string sPort;
    std::string sFamily;
    std::string sVersion;
    int32_t nInputs = 0;
    int32_t nChannels = 0;
    std::string sDescription;
    uint32_t dwLock = 0;
    std::string sLockOwner;
};
struct DetectorListing {
    std::vector<DetectorRow> detectors;
    std::vector<std::string> silentPorts;  // "COM2 (KORV)": configured, nothing answered
    std::vector<std::string> causes;       // why a configured port, or none, gave no detector
};
DetectorListing ListDetectors(AddinLibrary& library);
DetectorRow DescribeDetector(AddinLibrary& library, int32_t nMcb, int32_t nDet);
// Every detector of MCBs 97..101 as a table, or as one JSON object; true
// when there is at least one.
bool PrintDetectors(AddinLibrary& library);
bool PrintDetectorsJson(AddinLibrary& library);

// What one Dialog call gave back.
struct DialogResult {
    bool bServed = false;
    int32_t nMac = 0;
    int32_t nMic = 0;
    int32_t nLength = 0;
    std::string sResponse;
    bool ok() const { return bServed && nMac == 0; }
};

DialogResult SendLine(AddinBase& addin, int32_t nMcb, int32_t nDet, const std::string& sLine);
// causes: why there is no working detector (with -9), one line each.
void PrintDialogResult(const DialogResult& result, const std::vector<std::string>& causes);
void PrintDialogResultJson(const DialogResult& result, int32_t nMcb, int32_t nDet, const std::string& sLine,
                           const std::vector<std::string>& causes);

// Channels flagged as part of a region of interest, in a row.
struct RoiRun {
    size_t nFirst = 0;
    size_t nCount = 0;
};
// Channel contents with the flag bits of the channel-word mask removed; the
// ROI flag (bit 31) becomes the runs it marks.
struct Spectrum {
    std::vector<uint32_t> counts;
    std::vector<RoiRun> rois;
    int32_t nResult = 0;  // ReadSpectrum's result; 1 is success
};
// The first nInUse channels (0: the whole memory the add-in reports).
Spectrum ReadWholeSpectrum(AddinBase& addin, int32_t nMcb, int32_t nDet, int32_t nInUse = 0);
// Total, peak and a small histogram of the channels, in a few rows.
void PrintSpectrumSummary(const Spectrum& spectrum, const char* pszTitle);

// Parses a whole decimal argument within [nLow, nHigh].
bool ParseNumber(const char* pszText, long nLow, long nHigh, int32_t& nValue);

}  // namespace linkbay_host
