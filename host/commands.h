// The host program's commands that talk to detectors, written against the
// public interface only, so the demo can run them in its own process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "linkbay/addin.h"

namespace linkbay_host {

class AddinLibrary;

// True when a port is configured but has no detector (yet).
bool HasSilentPorts(AddinLibrary& library);
// Prints every detector of MCBs 97..101; true when there is at least one.
bool PrintDetectors(AddinLibrary& library);

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
void PrintDialogResult(const DialogResult& result, int32_t nMcb);

// The unsigned value of the first numeric record ($A, $C, $G) in a response;
// false when the response holds none.
bool RecordValue(const std::string& sResponse, uint32_t& dwValue);

// Channel contents with the flag bits of the channel-word mask removed.
struct Spectrum {
    std::vector<uint32_t> counts;
    int32_t nResult = 0;  // ReadSpectrum's result; 1 is success
};
// The first nInUse channels (0: the whole memory the add-in reports).
Spectrum ReadWholeSpectrum(AddinBase& addin, int32_t nMcb, int32_t nDet, int32_t nInUse = 0);
// Total, peak and a small histogram of the channels, in a few rows.
void PrintSpectrumSummary(const Spectrum& spectrum, const char* pszTitle);

// Where the add-in looks for DETHUB.INI, for messages.
std::string ConfigurationDirectory();

// Parses a whole decimal argument within [nLow, nHigh].
bool ParseNumber(const char* pszText, long nLow, long nHigh, int32_t& nValue);

}  // namespace linkbay_host
