#include "spectrum_record.h"

#include <cstdio>
#include <ctime>

#include "library_loader.h"

namespace linkbay_host {
namespace {

bool ReadTicks(AddinBase& addin, int32_t nMcb, int32_t nDet, const char* pszLine, uint32_t& dwTicks) {
    const DialogResult result = SendLine(addin, nMcb, nDet, pszLine);
    return result.ok() && RecordValue(result.sResponse, dwTicks);
}

bool ReadTriple(AddinBase& addin, int32_t nMcb, int32_t nDet, const char* pszLine, uint32_t (&values)[3]) {
    const DialogResult result = SendLine(addin, nMcb, nDet, pszLine);
    return result.ok() && RecordTriple(result.sResponse, values);
}

// Two-digit years as the add-in reads them: 80..99 are the 1900s.
int FullYear(uint32_t nYearOfCentury) { return static_cast<int>(nYearOfCentury < 80 ? 2000 + nYearOfCentury : 1900 + nYearOfCentury); }

bool IsUsable(const CivilTime& time) {
    return time.nMonth >= 1 && time.nMonth <= 12 && time.nDay >= 1 && time.nDay <= 31 && time.nHour < 24 &&
           time.nMinute < 60 && time.nSecond < 61;
}

bool InstrumentStartTime(AddinBase& addin, int32_t nMcb, int32_t nDet, CivilTime& start) {
    uint32_t date[3];
    uint32_t clock[3];
    if (!ReadTriple(addin, nMcb, nDet, "SHOW_DATE_START", date) || !ReadTriple(addin, nMcb, nDet, "SHOW_TIME_START", clock))
        return false;
    start = CivilTime{FullYear(date[2] % 100), static_cast<int>(date[1]), static_cast<int>(date[0]),
                      static_cast<int>(clock[0]), static_cast<int>(clock[1]), static_cast<int>(clock[2])};
    return IsUsable(start);
}

// The add-in's own mark (MarkStartTime), in this machine's local time.
bool MarkedStartTime(AddinBase& addin, int32_t nMcb, int32_t nDet, CivilTime& start) {
    const time_t tStart = addin.LocalGetStartTime(nMcb, nDet, nullptr);
    if (tStart <= 0) return false;
    const tm* pLocal = localtime(&tStart);
    if (pLocal == nullptr) return false;
    start = CivilTime{pLocal->tm_year + 1900, pLocal->tm_mon + 1, pLocal->tm_mday,
                      pLocal->tm_hour,        pLocal->tm_min,     pLocal->tm_sec};
    return true;
}

}  // namespace

int32_t ChannelsInUse(AddinBase& addin, int32_t nMcb, int32_t nDet) {
    uint32_t dwGain = 0;
    const DialogResult result = SendLine(addin, nMcb, nDet, "SHOW_GAIN_CONVERSION");
    if (!result.ok() || !RecordValue(result.sResponse, dwGain)) return 0;
    return dwGain <= static_cast<uint32_t>(addin.GetChannels(nMcb, nDet)) ? static_cast<int32_t>(dwGain) : 0;
}

bool ReadStartTime(AddinBase& addin, int32_t nMcb, int32_t nDet, CivilTime& start) {
    return InstrumentStartTime(addin, nMcb, nDet, start) || MarkedStartTime(addin, nMcb, nDet, start);
}

SpectrumRecord ReadSpectrumRecord(AddinLibrary& library, int32_t nMcb, int32_t nDet) {
    AddinBase& addin = *library.addin();
    SpectrumRecord record;
    record.detector = DescribeDetector(library, nMcb, nDet);
    record.bHasLive = ReadTicks(addin, nMcb, nDet, "SHOW_LIVE", record.dwLiveTicks);
    record.bHasTrue = ReadTicks(addin, nMcb, nDet, "SHOW_TRUE", record.dwTrueTicks);
    record.bHasStart = ReadStartTime(addin, nMcb, nDet, record.start);
    record.spectrum = ReadWholeSpectrum(addin, nMcb, nDet, ChannelsInUse(addin, nMcb, nDet));
    return record;
}

std::string IsoDateTime(const CivilTime& time) {
    char szText[40];
    snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d", time.nYear, time.nMonth, time.nDay, time.nHour,
             time.nMinute, time.nSecond);
    return szText;
}

}  // namespace linkbay_host
