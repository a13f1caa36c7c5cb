#include "serial/rs232ci.h"

namespace linkbay {

RS232CI::RS232CI(const CommandSet& commandSet, int32_t nMCB)
    : CIBase(commandSet), m_nMCB(nMCB), m_hPort(INVALID_HANDLE_VALUE) {}

// Not through Detach: a derived class is already gone when this runs.
RS232CI::~RS232CI() { ClosePort(); }

void RS232CI::Detach() { ClosePort(); }

void RS232CI::ClosePort() {
    if (!IsPortHandle(m_hPort)) return;
    COMClose(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
}

bool RS232CI::IsUnitPresent(int32_t nDet) {
    if (nDet != kServedDetector) return false;
    if (COMCheck(m_hPort)) return true;
    // COMCheck closed it; keep the value from being used or closed again.
    m_hPort = INVALID_HANDLE_VALUE;
    return false;
}

bool RS232CI::RefuseLine(int32_t* pnMac) {
    if (pnMac != nullptr) *pnMac = kMacNotServed;
    return false;
}

bool RS232CI::ExecLine(int32_t nDet, const char* pszLine, int32_t nRespSize, char* pszResp,
                       int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) {
    if (nDet != kServedDetector) return RefuseLine(pnMac);
    int32_t nSpareLen = 0;
    int32_t nSpareMac = 0;
    int32_t nSpareMic = 0;
    if (pnRespLen == nullptr) pnRespLen = &nSpareLen;
    if (pnMac == nullptr) pnMac = &nSpareMac;
    if (pnMic == nullptr) pnMic = &nSpareMic;
    if (pszResp == nullptr || nRespSize < 0) nRespSize = 0;

    ParsedCommand cmd{};
    int32_t nParseMac = 0;
    int32_t nParseMic = 0;
    if (!ParseCommand(pszLine, cmd, nParseMac, nParseMic)) {
        *pnMac = nParseMac;
        *pnMic = nParseMic;
        return true;
    }
    return ExecCmd(cmd, nRespSize, pszResp, pnRespLen, pnMac, pnMic);
}

}  // namespace linkbay
