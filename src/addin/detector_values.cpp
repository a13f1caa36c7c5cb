// Per-detector named values (lock, start time, description, identifier and
// any key the host chooses), kept by the instrument when it can, else in
// the detector's section of DETHUB.INI.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "addin/addin_state.h"
#include "addin/mutex_access.h"
#include "cmdlang/numbers.h"
#include "linkbay/addin.h"
#include "serial/debug_output.h"
#include "serial/detector_profile.h"

using linkbay::TMutexAccess;

namespace {

constexpr uint32_t kValuesInInstrument = 16;  // feature word 0, bit 4
constexpr int32_t kShowLineSize = 48;         // keys up to 31 characters
constexpr int32_t kSetLineSize = 176;
constexpr int32_t kValueResponseSize = 131;
constexpr int32_t kDateResponseSize = 18;

// Copies at most nSize - 1 characters and a NUL; returns the length copied.
int32_t CopyValue(char* pszBuffer, int32_t nSize, const char* pszText) {
    int32_t n = 0;
    for (; pszText != nullptr && pszText[n] != '\0' && n < nSize - 1; ++n) pszBuffer[n] = pszText[n];
    pszBuffer[n] = '\0';
    return n;
}

bool IsRecord(const char* pszAnswer, const char* pszKind) { return strncmp(pszAnswer, pszKind, 2) == 0; }

// The three 3-digit numbers of a "$N" record (characters 3-5, 6-8, 9-11).
void ThreeNumbers(const char* pszRecord, int (&nValues)[3]) {
    for (int i = 0; i < 3; ++i) {
        char szField[4] = {};
        for (int k = 0; k < 3 && pszRecord[2 + 3 * i + k] != '\0'; ++k) szField[k] = pszRecord[2 + 3 * i + k];
        nValues[i] = linkbay::ToSigned32(szField);
    }
}

struct CalendarTime {
    tm fields;
    bool bUsable;  // month 0 or more and day above 0
};

CalendarTime BuildCalendarTime(const char* pszDate, const char* pszTime) {
    int date[3];
    int time[3];
    ThreeNumbers(pszDate, date);
    ThreeNumbers(pszTime, time);
    CalendarTime result{};
    result.fields.tm_mday = date[0];
    result.fields.tm_mon = date[1] - 1;
    result.fields.tm_year = date[2] < 80 ? date[2] + 100 : date[2];
    result.fields.tm_hour = time[0];
    result.fields.tm_min = time[1];
    result.fields.tm_sec = time[2];
    result.fields.tm_isdst = -1;  // daylight saving is the platform's to decide
    linkbay::DebugPrint(1, "LocalGetStartTime(): Day %d, Month %d, Year %d, Hour %d, Min %d, Sec %d\r\n",
                        result.fields.tm_mday, result.fields.tm_mon, result.fields.tm_year,
                        result.fields.tm_hour, result.fields.tm_min, result.fields.tm_sec);
    result.bUsable = result.fields.tm_mon >= 0 && result.fields.tm_mday > 0;
    return result;
}

// -1 when the conversion fails, including times the 32-bit seconds cannot
// hold (years 2038 to 2079 of the two-digit range), which would otherwise
// come back as wrapped, meaningless values.
int32_t LocalSeconds(CalendarTime calendar) {
    const time_t t = mktime(&calendar.fields);
    if (t == static_cast<time_t>(-1) || t < static_cast<time_t>(INT32_MIN) || t > static_cast<time_t>(INT32_MAX))
        return -1;
    return static_cast<int32_t>(t);
}

int32_t CurrentSeconds() { return static_cast<int32_t>(linkbay::UnixSecondsNow()); }

}  // namespace

// Values live in the instrument when feature word 0 has bit 4 set.
static bool ValuesInInstrument(const McbEntry& entry, int32_t nDet) {
    return (entry.dwFeatures[nDet - 1][0] & kValuesInInstrument) != 0;
}

int32_t AddinBase::GetDataApp(int32_t nMcb, int32_t nDet, const char* pszKey, const char* pszDefault,
                              char* pszBuffer, int32_t nSize) {
    if (nSize <= 0 || pszBuffer == nullptr) return 0;
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return 0;
    if (!ValuesInInstrument(m_pMcbTable[nMcb - m_nFirstMCB], nDet)) {
        return linkbay::ReadDetectorProfileString(nMcb, static_cast<uint32_t>(nDet), pszKey, pszDefault,
                                                  pszBuffer, static_cast<uint32_t>(nSize));
    }
    char szLine[kShowLineSize];
    // A key too long for the line is refused rather than cut: another key's value must not answer.
    const int nLine = snprintf(szLine, sizeof szLine, "SHOW_DATA_APP \"%s\"", pszKey != nullptr ? pszKey : "");
    char szResponse[kValueResponseSize] = "";
    int32_t nMac = 0;
    int32_t nMic = 0;
    const bool bAnswered = nLine < kShowLineSize &&
                           Dialog(nMcb, nDet, szLine, sizeof szResponse, szResponse, nullptr, &nMac, &nMic);
    szResponse[sizeof szResponse - 1] = '\0';  // an answer that fills the buffer ends there, not beyond
    if (!bAnswered || nMac != 0 || !IsRecord(szResponse, "$F")) return CopyValue(pszBuffer, nSize, pszDefault);
    int32_t nLength = CopyValue(pszBuffer, nSize, szResponse + 2);
    while (nLength > 0 && (pszBuffer[nLength - 1] == '\r' || pszBuffer[nLength - 1] == '\n'))
        pszBuffer[--nLength] = '\0';
    return nLength;
}

bool AddinBase::SetDataApp(int32_t nMcb, int32_t nDet, const char* pszKey, const char* pszValue) {
    TMutexAccess access(m_mutex);
    if (pszKey == nullptr || !IsValidDetector(nMcb, nDet)) return false;
    if (!ValuesInInstrument(m_pMcbTable[nMcb - m_nFirstMCB], nDet))
        return linkbay::WriteDetectorProfileString(nMcb, nDet, pszKey, pszValue);
    char szLine[kSetLineSize];
    const int nLine = snprintf(szLine, sizeof szLine, "SET_DATA_APP \"%s\",\"%s\"", pszKey,
                               pszValue != nullptr ? pszValue : "");
    if (nLine >= kSetLineSize) return false;  // refused rather than stored cut short
    int32_t nMac = 0;
    int32_t nMic = 0;
    return Dialog(nMcb, nDet, szLine, 0, nullptr, nullptr, &nMac, &nMic) && nMac == 0;
}

uint32_t AddinBase::GetLock(int32_t nMcb, int32_t nDet, char* pszOwner, int32_t nOwnerSize) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return 0;
    if (pszOwner != nullptr && nOwnerSize > 0) {
        char szValue[128];
        if (GetDataApp(nMcb, nDet, "@LOCK", "", szValue, sizeof szValue) != 0) {
            const char* pszName = szValue;
            while (*pszName != '\0' && (isdigit(static_cast<unsigned char>(*pszName)) ||
                                        ispunct(static_cast<unsigned char>(*pszName)) ||
                                        isspace(static_cast<unsigned char>(*pszName))))
                ++pszName;
            linkbay::CopyBoundedText(pszOwner, nOwnerSize, pszName);
        }
    }
    return m_pMcbTable[nMcb - m_nFirstMCB].dwLockId[nDet - 1];
}

void AddinBase::SetLock(int32_t nMcb, int32_t nDet, uint32_t dwLockId, const char* pszOwner) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return;
    m_pMcbTable[nMcb - m_nFirstMCB].dwLockId[nDet - 1] = dwLockId;
    char szValue[128];  // owner names that do not fit are cut
    snprintf(szValue, sizeof szValue, "%lu %s", static_cast<unsigned long>(dwLockId),
             pszOwner != nullptr ? pszOwner : "");
    SetDataApp(nMcb, nDet, "@LOCK", szValue);
}

uint32_t AddinBase::GetSharedWord(int32_t nMcb, int32_t nDet) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return 0;
    return m_pMcbTable[nMcb - m_nFirstMCB].dwSharedWord[nDet - 1];
}

void AddinBase::SetSharedWord(int32_t nMcb, int32_t nDet, uint32_t dwValue) {
    TMutexAccess access(m_mutex);
    if (IsValidDetector(nMcb, nDet)) m_pMcbTable[nMcb - m_nFirstMCB].dwSharedWord[nDet - 1] = dwValue;
}

void AddinBase::MarkStartTime(int32_t nMcb, int32_t nDet, uint32_t) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return;
    const int32_t tNow = CurrentSeconds();
    m_pMcbTable[nMcb - m_nFirstMCB].tStart[nDet - 1] = tNow;
    char szValue[128];
    snprintf(szValue, sizeof szValue, "%lu", static_cast<unsigned long>(static_cast<uint32_t>(tNow)));
    SetDataApp(nMcb, nDet, "@START", szValue);
}

int32_t AddinBase::LocalGetStartTime(int32_t nMcb, int32_t nDet, int32_t* ptNow) {
    linkbay::Store<int32_t>(ptNow, 0);
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return 0;
    if (ValuesInInstrument(m_pMcbTable[nMcb - m_nFirstMCB], nDet)) {
        char szDate[kDateResponseSize] = "";
        char szStartDate[kDateResponseSize] = "";
        char szTime[kDateResponseSize] = "";
        char szStartTime[kDateResponseSize] = "";
        const bool bAnswered =
            Dialog(nMcb, nDet, "SHOW_DATE", sizeof szDate, szDate, nullptr, nullptr, nullptr) &&
            Dialog(nMcb, nDet, "SHOW_DATE_STAR", sizeof szStartDate, szStartDate, nullptr, nullptr, nullptr) &&
            Dialog(nMcb, nDet, "SHOW_TIME", sizeof szTime, szTime, nullptr, nullptr, nullptr) &&
            Dialog(nMcb, nDet, "SHOW_TIME_STAR", sizeof szStartTime, szStartTime, nullptr, nullptr, nullptr);
        for (char* pszAnswer : {szDate, szStartDate, szTime, szStartTime})
            pszAnswer[kDateResponseSize - 1] = '\0';  // answers that fill their buffers end there, not beyond
        if (bAnswered) {
            linkbay::DebugPrint(1, "LocalGetStartTime(): Date: \"%s\", Time:\"%s\"\r\n", szDate, szTime);
            if (ptNow != nullptr) {
                *ptNow = 0;
                if (IsRecord(szDate, "$N") && IsRecord(szTime, "$N")) {
                    const CalendarTime now = BuildCalendarTime(szDate, szTime);
                    if (now.bUsable) {
                        const int32_t tNow = LocalSeconds(now);
                        *ptNow = tNow == -1 ? 0 : tNow;
                    }
                }
            }
            linkbay::DebugPrint(1, "LocalGetStartTime(): StartDate: \"%s\", StartTime:\"%s\"\r\n", szStartDate,
                                szStartTime);
            if (IsRecord(szStartDate, "$N") && IsRecord(szStartTime, "$N")) {
                const CalendarTime start = BuildCalendarTime(szStartDate, szStartTime);
                const int32_t tStart = start.bUsable ? LocalSeconds(start) : -1;
                if (tStart != -1 && tStart != 0) return tStart;
            }
        }
    }
    linkbay::Store(ptNow, CurrentSeconds());
    return m_pMcbTable[nMcb - m_nFirstMCB].tStart[nDet - 1];
}

bool AddinBase::GetDescription(int32_t nMcb, int32_t nDet, char* pszBuffer, int32_t nSize, uint8_t* pbIsDefault) {
    TMutexAccess access(m_mutex);
    const bool bValid = IsValidDetector(nMcb, nDet);
    if (bValid && GetDataApp(nMcb, nDet, "@DESC", "", pszBuffer, nSize) != 0) {
        linkbay::Store<uint8_t>(pbIsDefault, 0);
        return true;
    }
    char szText[64];
    if (!bValid)
        snprintf(szText, sizeof szText, "Invalid Detector");
    else if (m_pMcbTable[nMcb - m_nFirstMCB].nInputs > 1)
        snprintf(szText, sizeof szText, "MCB %d Input %d", nMcb, nDet);
    else
        snprintf(szText, sizeof szText, "MCB %d", nMcb);
    linkbay::CopyBoundedText(pszBuffer, nSize, szText);
    linkbay::Store<uint8_t>(pbIsDefault, 1);
    return bValid;
}

bool AddinBase::GetDetectorId(int32_t nMcb, int32_t nDet, uint32_t* pdwId, uint8_t* pbIsDefault) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) {
        linkbay::Store<uint32_t>(pdwId, 0);
        linkbay::Store<uint8_t>(pbIsDefault, 1);
        return false;
    }
    char szValue[32];
    if (GetDataApp(nMcb, nDet, "@ID", "", szValue, sizeof szValue) > 0) {
        linkbay::Store(pdwId, linkbay::ToUnsigned32(szValue));
        linkbay::Store<uint8_t>(pbIsDefault, 0);
        return true;
    }
    linkbay::Store(pdwId, static_cast<uint32_t>(100 * nMcb + nDet));
    linkbay::Store<uint8_t>(pbIsDefault, 1);
    return true;
}
