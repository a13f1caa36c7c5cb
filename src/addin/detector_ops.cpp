// Operations on one detector: validity, the command path, regions of
// interest, channel data, activity, and what identification recorded.
#include <cstdio>
#include <cstring>

#include "addin/linkbay.h"
#include "addin/mutex_access.h"
#include "serial/rs232ci.h"

namespace linkbay {
namespace {

bool InRange(int32_t nMcb, int32_t nDet) {
    return nMcb >= LINKBAY_FIRST_MCB && nMcb < LINKBAY_FIRST_MCB + LINKBAY_MCB_COUNT && nDet >= 1 &&
           nDet <= LINKBAY_MAX_DETECTORS;
}

}  // namespace

bool Linkbay::DriverServes(int32_t nMcb, int32_t nDet) {
    RS232CI* pDriver = Driver(nMcb);
    if (pDriver == nullptr) return false;
    if (pDriver->IsUnitPresent(nDet)) return true;
    // A dead line closes the port: nobody may be offered its handle any more.
    if (!RS232CI::IsPortHandle(pDriver->m_hPort)) NoteHolding(nMcb);
    return false;
}

bool Linkbay::IsValidDetector(int32_t nMcb, int32_t nDet) {
    TMutexAccess access(m_mutex);
    if (!InRange(nMcb, nDet)) return false;
    if (DriverServes(nMcb, nDet)) return true;
    if (g_bInterrogating) return false;
    g_bInterrogating = 1;
    InterrogateMCB(nMcb);
    g_bInterrogating = 0;
    return DriverServes(nMcb, nDet);
}

bool Linkbay::Dialog(int32_t nMcb, int32_t nDet, const char* pszLine, int32_t nResponseSize,
                     char* pszResponse, int32_t* pnResponseLength, int32_t* pnMac, int32_t* pnMic) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) {
        Store<int32_t>(pnMac, kMacInvalidDetector);
        Store<int32_t>(pnMic, 0);
        Store<int32_t>(pnResponseLength, 0);
        if (nResponseSize > 0 && pszResponse != nullptr) pszResponse[0] = '\0';
        return false;
    }
    int32_t nLength = 0;
    int32_t nMac = 0;
    int32_t nMic = 0;
    const bool bServed = Driver(nMcb)->ExecLine(nDet, pszLine, nResponseSize, pszResponse, &nLength,
                                                &nMac, &nMic);
    Store(pnResponseLength, nLength);
    Store(pnMac, nMac);
    Store(pnMic, nMic);
    return bServed;
}

// One line of SetROI or ClearROI: the result code, with the pair copied out
// when the driver served the line (or always, for ClearROI's failures).
int32_t Linkbay::SendRoiLine(int32_t nMcb, int32_t nDet, const char* pszLine, int32_t* pnMac,
                             int32_t* pnMic, bool bReportFailure) {
    int32_t nLength = 0;
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (!Driver(nMcb)->ExecLine(nDet, pszLine, 0, nullptr, &nLength, &nMac, &nMic)) {
        if (!bReportFailure) return nMac;
        DebugPrint(0, "Linkbay::ClearROI(): Dialog(%d,%d \"%s\") failed! LocalErr=%d\r\n", nMcb, nDet,
                   pszLine, nMac);
        Store(pnMac, nMac);
        Store(pnMic, nMic);
        return nMac;
    }
    Store(pnMac, nMac);
    Store(pnMic, nMic);
    return nMac != 0 ? kOpInstrumentError : kOpDone;
}

int32_t Linkbay::SetROI(int32_t nMcb, int32_t nDet, uint32_t dwFirst, uint32_t dwCount, uint32_t,
                        int32_t* pnMac, int32_t* pnMic) {
    TMutexAccess access(m_mutex);
    Store<int32_t>(pnMac, 0);
    Store<int32_t>(pnMic, 0);
    if (!IsValidDetector(nMcb, nDet)) return kOpBadArguments;
    char szLine[64];
    snprintf(szLine, sizeof szLine, "SET_ROI %u, %u", dwFirst, dwCount);
    return SendRoiLine(nMcb, nDet, szLine, pnMac, pnMic, false);
}

int32_t Linkbay::ClearROI(int32_t nMcb, int32_t nDet, uint32_t dwFirst, uint32_t dwCount, uint32_t,
                          int32_t* pnMac, int32_t* pnMic) {
    TMutexAccess access(m_mutex);
    Store<int32_t>(pnMac, 0);
    Store<int32_t>(pnMic, 0);
    if (!IsValidDetector(nMcb, nDet)) return kOpBadArguments;
    char szLine[64];
    snprintf(szLine, sizeof szLine, "SET_WIND %u, %u", dwFirst, dwCount);
    const int32_t nResult = SendRoiLine(nMcb, nDet, szLine, pnMac, pnMic, true);
    if (nResult != kOpDone) return nResult;
    return SendRoiLine(nMcb, nDet, "CLEAR_ROI", pnMac, pnMic, true);
}

int32_t Linkbay::ReadSpectrum(int32_t nMcb, int32_t nDet, uint32_t* pdwMask1, uint32_t* pdwMask2, uint32_t,
                              int32_t nFirst, int32_t nCount, int32_t nSegment, uint32_t* pdwData) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return kOpBadArguments;
    const McbEntry& entry = Entry(nMcb);
    Store(pdwMask1, entry.dwConfMask1[nDet - 1]);
    Store(pdwMask2, entry.dwConfMask2[nDet - 1]);
    return Driver(nMcb)->ReadData(nDet, nSegment, nFirst, nCount, pdwData);
}

int32_t Linkbay::WriteSpectrum(int32_t nMcb, int32_t nDet, uint32_t, int32_t nFirst, int32_t nCount,
                               int32_t nSegment, const uint32_t* pdwData) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return kOpBadArguments;
    return Driver(nMcb)->WriteData(nDet, nSegment, nFirst, nCount, Entry(nMcb).dwConfMask1[nDet - 1],
                                   pdwData);
}

bool Linkbay::IsDetectorActive(int32_t nMcb, int32_t nDet, int32_t* pnStatus) {
    TMutexAccess access(m_mutex);
    int32_t nStatus = kStatusNotServed;
    bool bActive = true;
    if (IsValidDetector(nMcb, nDet)) bActive = Driver(nMcb)->IsActive(nDet, &nStatus);
    Store(pnStatus, nStatus);
    return bActive;
}

}  // namespace linkbay

using linkbay::TMutexAccess;

bool AddinBase::GetFeatures(int32_t nMcb, int32_t nDet, uint32_t* pdwFeatures, int32_t nWords) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return false;
    const uint32_t* pdwWords = m_pMcbTable[nMcb - m_nFirstMCB].dwFeatures[nDet - 1];
    for (int32_t k = 0; pdwFeatures != nullptr && k < nWords; ++k)
        pdwFeatures[k] = k < LINKBAY_FEATURE_WORDS ? pdwWords[k] : 0;
    return true;
}

bool AddinBase::GetVersion(int32_t nMcb, char* pszBuffer, int32_t nSize) {
    TMutexAccess access(m_mutex);
    const bool bValid = IsValidDetector(nMcb, 1);
    if (bValid) linkbay::CopyBoundedText(pszBuffer, nSize, m_pMcbTable[nMcb - m_nFirstMCB].szVersion);
    if (pszBuffer != nullptr && nSize > 0) pszBuffer[nSize - 1] = '\0';
    return bValid;
}

int32_t AddinBase::GetChannels(int32_t nMcb, int32_t nDet) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, nDet)) return 0;
    return m_pMcbTable[nMcb - m_nFirstMCB].wInputChannels[nDet - 1];
}

int32_t AddinBase::GetInputCount(int32_t nMcb) {
    TMutexAccess access(m_mutex);
    if (!IsValidDetector(nMcb, 1)) return 0;
    return m_pMcbTable[nMcb - m_nFirstMCB].nInputs;
}
