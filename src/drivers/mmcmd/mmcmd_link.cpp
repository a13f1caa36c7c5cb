// The numbered-command link: port set-up, the frame and its exchange, the
// typed exchanges the command translation uses, and the channel transfer.
#include <cstring>

#include "cmdlang/result_codes.h"
#include "drivers/mmcmd/mmcmd_tables.h"
#include "drivers/mmcmd/mmcmdci.h"
#include "serial/port_setup.h"

namespace linkbay {
namespace {

// 2048-byte queues; interval 1 s, 5 ms a byte plus 10 s per read, writes give
// up after 5 s; the instruments run at 38400 baud only.
constexpr PortSetup kMmcmdPort = {2048, 2048, {1000, 5, 10000, 0, 5000}, 38400};

// The set-up failures name the class and calls they always have, whatever
// family reports them.
const char* const kSetupMessages[kSetupDone] = {
    "ZEPHCI::Attach(): Error in SetupComm():\r\n    ",
    "ZEPHCI::Attach(): Error in SetCommTimeouts():\r\n    ",
    "ZEPHCI::Attach(): Error in GetCommState():\r\n    ",
    "ZEPHCI::Open(): Error in SetCommState():\r\n    ",
};

constexpr uint16_t kTransferCommand = 187;
constexpr uint16_t kShowActive = mmcmd_code::kShowActive;
constexpr uint32_t kPairSize = 2;

void PutBig32(uint8_t* pb, uint32_t dw) {
    pb[0] = static_cast<uint8_t>(dw >> 24);
    pb[1] = static_cast<uint8_t>(dw >> 16);
    pb[2] = static_cast<uint8_t>(dw >> 8);
    pb[3] = static_cast<uint8_t>(dw);
}

uint32_t Big32(const uint8_t* pb) {
    return (static_cast<uint32_t>(pb[0]) << 24) | (static_cast<uint32_t>(pb[1]) << 16) |
           (static_cast<uint32_t>(pb[2]) << 8) | pb[3];
}

uint32_t FloatBits(double dValue) {
    const float f = static_cast<float>(dValue);
    uint32_t dw = 0;
    std::memcpy(&dw, &f, sizeof dw);
    return dw;
}

double FloatOf(uint32_t dw) {
    float f = 0;
    std::memcpy(&f, &dw, sizeof f);
    return f;
}

void LinkFailure(int32_t* pnMac, int32_t* pnMic, int32_t nMac, int32_t nMic) {
    *pnMac = nMac;
    *pnMic = nMic;
}

}  // namespace

const MmcmdFamily kTavoFamily = {
    "Sending TAVO Cmd: %d \r\n", "Error Sending TAVO MMCmd.\n", "TAVO ExecCmd: %d   Error. (mac/mic) = (%d/%d)\n",
    "TAVO ExecCmd: %d   Failed.\n", {2268723519u, 1084117004u, 2208306448u, 0u},
};

const MmcmdFamily kPelluxFamily = {
    "Sending PX Cmd: %d \r\n", "Error Sending PX MMCmd:\n", "PX ExecCmd: %d   Error. (mac/mic) = (%d/%d)\n",
    "PX ExecCmd: %d   Failed.\n", {2268723519u, 1084117005u, 530584848u, 0u},
};

// ---- parameters -------------------------------------------------------------

bool MmcmdParams::Word(uint32_t dwValue) {
    if (m_nSize + 4 > sizeof m_ab) return false;
    PutBig32(m_ab + m_nSize, dwValue);
    m_nSize += 4;
    return true;
}

bool MmcmdParams::Text(const char* pszText) {
    const size_t cb = std::strlen(pszText) + 1;
    if (m_nSize + cb > sizeof m_ab) return false;
    std::memcpy(m_ab + m_nSize, pszText, cb);
    m_nSize += static_cast<uint32_t>(cb);
    return true;
}

// ---- attachment and the driver interface --------------------------------------

MMCMDCI::MMCMDCI(int32_t nMCB, const MmcmdFamily& family) : RS232CI(kMmcmdCommandSet, nMCB), m_family(family) {}

void MMCMDCI::Attach(HANDLE hPort) {
    m_hPort = hPort;
    const PortSetupStep failed = ApplyPortSetup(hPort, kMmcmdPort);
    if (failed != kSetupDone) OutputErrorDirect(kSetupMessages[failed]);
}

bool MMCMDCI::IsActive(int32_t nDet, int32_t* pnStatus) {
    if (nDet != kServedDetector) {
        if (pnStatus != nullptr) *pnStatus = kStatusNotServed;
        return false;
    }
    ParsedCommand cmd{};
    cmd.nCode = kShowActive;
    char szResp[16] = {};
    int32_t nLen = 0, nMac = 0, nMic = 0;
    ExecCmd(cmd, sizeof szResp, szResp, &nLen, &nMac, &nMic);
    if (pnStatus != nullptr) *pnStatus = 1;
    return szResp[6] == '1';
}

int32_t MMCMDCI::ReadData(int32_t, int32_t, int32_t nFirst, int32_t nCount, uint32_t* pdwDest) {
    // Beyond the command language's channels the work area would not hold the data.
    if (nFirst < 0 || static_cast<int64_t>(nFirst) + nCount > kMmcmdChannelLimit) return kOpBadArguments;
    ReadChannels(pdwDest, static_cast<uint32_t>(nFirst), nCount);
    return kOpDone;
}

int32_t MMCMDCI::WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) { return kOpDone; }

// ---- the exchange -------------------------------------------------------------

bool MMCMDCI::SendMMCmd(uint16_t wCommand, const MmcmdParams& params, uint32_t cbReply, int32_t* pnMac,
                        int32_t* pnMic) {
    const uint32_t cbFrame = kMmcmdHeaderSize + params.Size();
    *pnMac = 0;
    *pnMic = 0;
    if (cbReply < kPairSize || cbReply > sizeof m_abReply) {
        LinkFailure(pnMac, pnMic, kMacCommandError, kMicReplyIncomplete);
        return false;
    }
    PutBig32(m_abFrame, cbFrame);
    PutBig32(m_abFrame + 4, cbReply);
    m_abFrame[8] = static_cast<uint8_t>(wCommand & 0xFF);
    m_abFrame[9] = static_cast<uint8_t>(wCommand >> 8);
    std::memcpy(m_abFrame + kMmcmdHeaderSize, params.Bytes(), params.Size());
    DebugPrint(0, m_family.pszSending, wCommand);
    if (!SendFrame(m_abFrame, cbFrame, pnMac, pnMic)) return false;
    if (!ReadReply(m_abReply, cbReply, pnMac, pnMic)) {
        LinkFailure(pnMac, pnMic, kMacCommandError, kMicReplyIncomplete);
        DebugPrint(0, "%s", m_family.pszSendFailed);
        return false;
    }
    return true;
}

bool MMCMDCI::SendFrame(const uint8_t* pbFrame, uint32_t cbFrame, int32_t* pnMac, int32_t* pnMic) {
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        COMPurge(m_hPort);
        if (COMWrite(m_hPort, pbFrame, cbFrame)) return true;
        LinkFailure(pnMac, pnMic, kMacNotSent, 0);
        char szError[kErrorTextSize];
        // The frame as text: its first byte, the top of its length, is always 0.
        DebugPrint(0, "KORVCI::QueryInstrument(COM%d: \"%s\"): Error sending command:\r\n    %s\r\n", Port(), "",
                   ErrorText(szError, sizeof szError));
    }
    return false;
}

bool MMCMDCI::ReadReply(uint8_t* pbReply, uint32_t cbReply, int32_t* pnMac, int32_t* pnMic) {
    if (!COMRead(m_hPort, pbReply, cbReply)) {
        DebugPrint(0, "Error reading response\n");
        LinkFailure(pnMac, pnMic, kMacNotSent, 0);
        return false;
    }
    *pnMac = pbReply[0];
    *pnMic = pbReply[1];
    return true;
}

// ---- typed exchanges ------------------------------------------------------------

bool MMCMDCI::ReadWords(uint16_t wCommand, const MmcmdParams& params, uint32_t* pdw, uint32_t nWords,
                        int32_t* pnMac, int32_t* pnMic) {
    for (uint32_t i = 0; i < nWords; ++i) pdw[i] = 0;
    if (!SendMMCmd(wCommand, params, kPairSize + 4 * nWords, pnMac, pnMic)) return false;
    for (uint32_t i = 0; i < nWords; ++i) pdw[i] = Big32(m_abReply + kPairSize + 4 * i);
    return true;
}

bool MMCMDCI::ReadTextWith(uint16_t wCommand, const MmcmdParams& params, uint32_t n, char* pszText, int32_t* pnMac,
                           int32_t* pnMic) {
    pszText[0] = '\0';
    if (!SendMMCmd(wCommand, params, n + kPairSize, pnMac, pnMic)) return false;
    const uint32_t cbKept = n >= 2 ? n - 2 : 0;
    std::memcpy(pszText, m_abReply + kPairSize, cbKept);
    pszText[cbKept] = '\0';
    return true;
}

bool MMCMDCI::MMCmdAck(uint16_t wCommand, int32_t* pnMac, int32_t* pnMic) {
    return SendMMCmd(wCommand, MmcmdParams(), kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckInt(uint16_t wCommand, uint32_t dwValue, int32_t* pnMac, int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dwValue);
    return SendMMCmd(wCommand, params, kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckFloat(uint16_t wCommand, double dValue, int32_t* pnMac, int32_t* pnMic) {
    return MMCmdAckInt(wCommand, FloatBits(dValue), pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckInt2(uint16_t wCommand, uint32_t dw1, uint32_t dw2, int32_t* pnMac, int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dw1);
    params.Word(dw2);
    return SendMMCmd(wCommand, params, kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckFloatInt(uint16_t wCommand, double d1, uint32_t dw2, int32_t* pnMac, int32_t* pnMic) {
    return MMCmdAckInt2(wCommand, FloatBits(d1), dw2, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckInt3(uint16_t wCommand, uint32_t dw1, uint32_t dw2, uint32_t dw3, int32_t* pnMac,
                           int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dw1);
    params.Word(dw2);
    params.Word(dw3);
    return SendMMCmd(wCommand, params, kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckFloat3(uint16_t wCommand, double d1, double d2, double d3, int32_t* pnMac, int32_t* pnMic) {
    return MMCmdAckInt3(wCommand, FloatBits(d1), FloatBits(d2), FloatBits(d3), pnMac, pnMic);
}

// Texts come from the parser's fixed strings, so they always fit a frame.
bool MMCMDCI::MMCmdAckText(uint16_t wCommand, const char* pszText, int32_t* pnMac, int32_t* pnMic) {
    MmcmdParams params;
    params.Text(pszText);
    return SendMMCmd(wCommand, params, kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckText2(uint16_t wCommand, const char* psz1, const char* psz2, int32_t* pnMac, int32_t* pnMic) {
    MmcmdParams params;
    params.Text(psz1);
    params.Text(psz2);
    return SendMMCmd(wCommand, params, kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdAckIntText(uint16_t wCommand, uint32_t dwValue, const char* pszText, int32_t* pnMac,
                              int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dwValue);
    params.Text(pszText);
    return SendMMCmd(wCommand, params, kPairSize, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadInt(uint16_t wCommand, uint32_t* pdw, int32_t* pnMac, int32_t* pnMic) {
    return ReadWords(wCommand, MmcmdParams(), pdw, 1, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadInt2(uint16_t wCommand, uint32_t* pdw1, uint32_t* pdw2, int32_t* pnMac, int32_t* pnMic) {
    uint32_t dw[2];
    const bool bOk = ReadWords(wCommand, MmcmdParams(), dw, 2, pnMac, pnMic);
    *pdw1 = dw[0];
    *pdw2 = dw[1];
    return bOk;
}

bool MMCMDCI::MMCmdReadInt3(uint16_t wCommand, uint32_t (&dw)[3], int32_t* pnMac, int32_t* pnMic) {
    return ReadWords(wCommand, MmcmdParams(), dw, 3, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadInt4(uint16_t wCommand, uint32_t (&dw)[4], int32_t* pnMac, int32_t* pnMic) {
    return ReadWords(wCommand, MmcmdParams(), dw, 4, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadIntOf(uint16_t wCommand, uint32_t dwOf, uint32_t* pdw, int32_t* pnMac, int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dwOf);
    return ReadWords(wCommand, params, pdw, 1, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadInt2Of(uint16_t wCommand, uint32_t dwOf, uint32_t* pdw1, uint32_t* pdw2, int32_t* pnMac,
                              int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dwOf);
    uint32_t dw[2];
    const bool bOk = ReadWords(wCommand, params, dw, 2, pnMac, pnMic);
    *pdw1 = dw[0];
    *pdw2 = dw[1];
    return bOk;
}

bool MMCMDCI::MMCmdReadIntOf2(uint16_t wCommand, uint32_t dwOf1, uint32_t dwOf2, uint32_t* pdw, int32_t* pnMac,
                              int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dwOf1);
    params.Word(dwOf2);
    return ReadWords(wCommand, params, pdw, 1, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadFloat(uint16_t wCommand, double* pd, int32_t* pnMac, int32_t* pnMic) {
    uint32_t dw = 0;
    const bool bOk = MMCmdReadInt(wCommand, &dw, pnMac, pnMic);
    *pd = FloatOf(dw);
    return bOk;
}

bool MMCMDCI::MMCmdReadFloatOf(uint16_t wCommand, uint32_t dwOf, double* pd, int32_t* pnMac, int32_t* pnMic) {
    uint32_t dw = 0;
    const bool bOk = MMCmdReadIntOf(wCommand, dwOf, &dw, pnMac, pnMic);
    *pd = FloatOf(dw);
    return bOk;
}

bool MMCMDCI::MMCmdReadFloat2Of(uint16_t wCommand, uint32_t dwOf, double* pd1, double* pd2, int32_t* pnMac,
                                int32_t* pnMic) {
    uint32_t dw1 = 0, dw2 = 0;
    const bool bOk = MMCmdReadInt2Of(wCommand, dwOf, &dw1, &dw2, pnMac, pnMic);
    *pd1 = FloatOf(dw1);
    *pd2 = FloatOf(dw2);
    return bOk;
}

bool MMCMDCI::MMCmdReadFloat3(uint16_t wCommand, double (&d)[3], int32_t* pnMac, int32_t* pnMic) {
    uint32_t dw[3];
    const bool bOk = MMCmdReadInt3(wCommand, dw, pnMac, pnMic);
    for (int i = 0; i < 3; ++i) d[i] = FloatOf(dw[i]);
    return bOk;
}

bool MMCMDCI::MMCmdReadText(uint16_t wCommand, uint32_t n, char* pszText, int32_t* pnMac, int32_t* pnMic) {
    return ReadTextWith(wCommand, MmcmdParams(), n, pszText, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadTextOf(uint16_t wCommand, uint32_t dwOf, uint32_t n, char* pszText, int32_t* pnMac,
                              int32_t* pnMic) {
    MmcmdParams params;
    params.Word(dwOf);
    return ReadTextWith(wCommand, params, n, pszText, pnMac, pnMic);
}

bool MMCMDCI::MMCmdReadTextFor(uint16_t wCommand, const char* pszFor, uint32_t n, char* pszText, int32_t* pnMac,
                               int32_t* pnMic) {
    MmcmdParams params;
    params.Text(pszFor);
    return ReadTextWith(wCommand, params, n, pszText, pnMac, pnMic);
}

// ---- channel data -----------------------------------------------------------------

void MMCMDCI::ReadChannels(uint32_t* pdwDest, uint32_t nStart, int32_t nCount) {
    const uint32_t nEnd = nStart + static_cast<uint32_t>(nCount > 0 ? nCount : 0);
    bool bFailed = false;
    for (uint32_t nChunk = nStart; nChunk < nEnd; nChunk += kMmcmdChunkChannels) {
        uint32_t* pdwChunk = m_dwChannels + nChunk;
        int32_t nMac = 0, nMic = 0;
        MmcmdParams params;
        params.Word(nChunk);
        bFailed = bFailed || !SendMMCmd(kTransferCommand, params, kPairSize + 4 * kMmcmdChunkChannels, &nMac, &nMic);
        for (uint32_t i = 0; i < kMmcmdChunkChannels; ++i) {
            pdwChunk[i] = bFailed ? 0 : Big32(m_abReply + kPairSize + 4 * i);
        }
    }
    if (pdwDest != nullptr && nCount >= 1) {
        std::memcpy(pdwDest, m_dwChannels + nStart, sizeof(uint32_t) * static_cast<size_t>(nCount));
    }
}

}  // namespace linkbay
