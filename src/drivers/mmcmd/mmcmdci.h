// The TAVO and PELLUX drivers: one binary protocol of numbered commands
// (MMCmd). Every request carries its own length, the length of the reply it
// expects and a 16-bit command number, which is the command code of the
// command language; the reply starts with the instrument's error pair. The
// two classes are one implementation: they differ in their diagnostic
// texts and feature words only.
#pragma once

#include <cstdint>

#include "serial/rs232ci.h"

namespace linkbay {

constexpr uint32_t kMmcmdFrameLimit = 1024;
constexpr uint32_t kMmcmdHeaderSize = 10;
constexpr uint32_t kMmcmdChunkChannels = 128;
constexpr int32_t kMmcmdChannelLimit = 32768;

// What tells the two families apart.
struct MmcmdFamily {
    const char* pszSending;        // "Sending <X> Cmd: %d \r\n"
    const char* pszSendFailed;     // "Error Sending <X> MMCmd.\n" (the PELLUX text ends in a colon)
    const char* pszExecError;      // "<X> ExecCmd: %d   Error. (mac/mic) = (%d/%d)\n"
    const char* pszExecFailed;     // "<X> ExecCmd: %d   Failed.\n"
    uint32_t dwFeatures[4];        // SHOW_FEATURES
};

extern const MmcmdFamily kTavoFamily;
extern const MmcmdFamily kPelluxFamily;

// The parameters of one request, packed as the instrument reads them: words
// most significant byte first, texts with their NUL. Adding what does not
// fit the frame fails and leaves the parameters as they were.
class MmcmdParams {
public:
    bool Word(uint32_t dwValue);
    bool Text(const char* pszText);
    const uint8_t* Bytes() const { return m_ab; }
    uint32_t Size() const { return m_nSize; }

private:
    uint8_t m_ab[kMmcmdFrameLimit - kMmcmdHeaderSize] = {};
    uint32_t m_nSize = 0;
};

class MMCMDCI : public RS232CI {
public:
    MMCMDCI(int32_t nMCB, const MmcmdFamily& family);

    // Stores the handle and configures the port; failures are reported and
    // the handle kept, so that each later exchange reports its own failure.
    void Attach(HANDLE hPort) override;
    bool IsActive(int32_t nDet, int32_t* pnStatus) override;
    // kOpDone; kOpBadArguments for a range beyond channel 32767.
    int32_t ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                     uint32_t* pdwDest) override;
    // Accepted without action.
    int32_t WriteData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                      uint32_t dwConfMask, const uint32_t* pdwSource) override;

    static bool HasAction(int32_t nCode);

    uint32_t m_nWindowStart = 0;
    uint32_t m_nWindowLength = 0;
    const MmcmdFamily& m_family;

    // Link (mmcmd_link.cpp). Each returns true when the reply arrived in
    // full, whatever error pair the instrument put in it (then the pair);
    // false with -3/0 (not written) or 131/137 (no full reply). The reply
    // is in Reply() afterwards.
    bool SendMMCmd(uint16_t wCommand, const MmcmdParams& params, uint32_t cbReply, int32_t* pnMac, int32_t* pnMic);
    bool SendFrame(const uint8_t* pbFrame, uint32_t cbFrame, int32_t* pnMac, int32_t* pnMic);
    bool ReadReply(uint8_t* pbReply, uint32_t cbReply, int32_t* pnMac, int32_t* pnMic);
    const uint8_t* Reply() const { return m_abReply; }

    // Typed exchanges: what the command translation uses.
    bool MMCmdAck(uint16_t wCommand, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckInt(uint16_t wCommand, uint32_t dwValue, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckFloat(uint16_t wCommand, double dValue, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckInt2(uint16_t wCommand, uint32_t dw1, uint32_t dw2, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckFloatInt(uint16_t wCommand, double d1, uint32_t dw2, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckInt3(uint16_t wCommand, uint32_t dw1, uint32_t dw2, uint32_t dw3, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckFloat3(uint16_t wCommand, double d1, double d2, double d3, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckText(uint16_t wCommand, const char* pszText, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckText2(uint16_t wCommand, const char* psz1, const char* psz2, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdAckIntText(uint16_t wCommand, uint32_t dwValue, const char* pszText, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadInt(uint16_t wCommand, uint32_t* pdw, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadInt2(uint16_t wCommand, uint32_t* pdw1, uint32_t* pdw2, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadInt3(uint16_t wCommand, uint32_t (&dw)[3], int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadInt4(uint16_t wCommand, uint32_t (&dw)[4], int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadIntOf(uint16_t wCommand, uint32_t dwOf, uint32_t* pdw, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadInt2Of(uint16_t wCommand, uint32_t dwOf, uint32_t* pdw1, uint32_t* pdw2, int32_t* pnMac,
                         int32_t* pnMic);
    bool MMCmdReadIntOf2(uint16_t wCommand, uint32_t dwOf1, uint32_t dwOf2, uint32_t* pdw, int32_t* pnMac,
                         int32_t* pnMic);
    bool MMCmdReadFloat(uint16_t wCommand, double* pd, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadFloatOf(uint16_t wCommand, uint32_t dwOf, double* pd, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadFloat2Of(uint16_t wCommand, uint32_t dwOf, double* pd1, double* pd2, int32_t* pnMac,
                           int32_t* pnMic);
    bool MMCmdReadFloat3(uint16_t wCommand, double (&d)[3], int32_t* pnMac, int32_t* pnMic);
    // Texts: a reply of n + 2 bytes whose first n - 2 data bytes are kept,
    // with a NUL after them, in a buffer of at least n - 1 bytes.
    bool MMCmdReadText(uint16_t wCommand, uint32_t n, char* pszText, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadTextOf(uint16_t wCommand, uint32_t dwOf, uint32_t n, char* pszText, int32_t* pnMac, int32_t* pnMic);
    bool MMCmdReadTextFor(uint16_t wCommand, const char* pszFor, uint32_t n, char* pszText, int32_t* pnMac,
                          int32_t* pnMic);

    // 128 channels an exchange into the work area; the channels of a chunk
    // that did not arrive read as 0.
    void ReadChannels(uint32_t* pdwDest, uint32_t nStart, int32_t nCount);

protected:
    bool ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp,
                 int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) override;

private:
    bool ReadWords(uint16_t wCommand, const MmcmdParams& params, uint32_t* pdw, uint32_t nWords, int32_t* pnMac,
                   int32_t* pnMic);
    bool ReadTextWith(uint16_t wCommand, const MmcmdParams& params, uint32_t n, char* pszText, int32_t* pnMac,
                      int32_t* pnMic);
    int32_t Port() const { return m_nMCB - kMcbPortOffset; }

    uint8_t m_abFrame[kMmcmdFrameLimit] = {};
    uint8_t m_abReply[kMmcmdFrameLimit] = {};
    uint32_t m_dwChannels[kMmcmdChannelLimit + kMmcmdChunkChannels] = {};
};

class TAVOCI : public MMCMDCI {
public:
    explicit TAVOCI(int32_t nMCB) : MMCMDCI(nMCB, kTavoFamily) {}
};

class PELLUXCI : public MMCMDCI {
public:
    explicit PELLUXCI(int32_t nMCB) : MMCMDCI(nMCB, kPelluxFamily) {}
};

}  // namespace linkbay
