// A spectrum with what the instrument tells about it (times, start, texts),
// gathered through the public interface for files and pictures.
#pragma once

#include <cstdint>
#include <string>

#include "commands.h"

namespace linkbay_host {

// A date and clock time as the instrument's clock gives it (no time zone).
struct CivilTime {
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
};

struct SpectrumRecord {
    DetectorRow detector;
    Spectrum spectrum;
    bool bHasLive = false;
    bool bHasTrue = false;
    uint32_t dwLiveTicks = 0;
    uint32_t dwTrueTicks = 0;
    bool bHasStart = false;
    CivilTime start;

    double liveSeconds() const { return dwLiveTicks * kSecondsPerTick; }
    double trueSeconds() const { return dwTrueTicks * kSecondsPerTick; }
};

// Reads the spectrum (the channels the conversion gain uses, when the
// instrument says) and its metadata; spectrum.nResult tells whether the
// counts were read. The add-in must be open.
SpectrumRecord ReadSpectrumRecord(AddinLibrary& library, int32_t nMcb, int32_t nDet);

// The channels the conversion gain uses; 0 (all of the memory) when the
// instrument does not say or says more than the memory holds.
int32_t ChannelsInUse(AddinBase& addin, int32_t nMcb, int32_t nDet);

// The start of the acquisition from SHOW_DATE_START and SHOW_TIME_START,
// else from the start the add-in marked; false when neither is known.
bool ReadStartTime(AddinBase& addin, int32_t nMcb, int32_t nDet, CivilTime& start);

// "2026-03-01T12:00:05".
std::string IsoDateTime(const CivilTime& time);

}  // namespace linkbay_host
