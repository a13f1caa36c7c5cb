// The KORV driver: a line-oriented hexadecimal ASCII protocol. Every device
// command is a two-digit opcode with decimal arguments and a carriage return;
// replies are a 4-byte acknowledgement or a line whose value starts at its
// fourth character.
#pragma once

#include <cstdint>

#include "drivers/common/channel_data.h"
#include "serial/rs232ci.h"

namespace linkbay {

constexpr int32_t kKorvChannels = 4096;
constexpr int32_t kKorvRoiSlots = 29;

// Per-instrument data, shared through the mapping "KORVCI%5.5d" by every
// process that drives the same port, so that one spectrum transfer serves
// all of them.
struct KorvCommonData : ChannelData<kKorvChannels, kKorvRoiSlots> {
    uint32_t nPresetMode;      // 0 live time, 1 true time
    uint32_t nPresetTimeBase;  // 0 seconds, 1 minutes
    uint32_t nPresetValue;     // 65535 minutes = no time preset
    uint8_t bPresetsKnown;
    uint32_t nIntegralPreset;
    uint32_t nConversionGain;
};

class KORVCI : public RS232CI {
public:
    explicit KORVCI(int32_t nMCB);
    ~KORVCI() override;

    // Configures the port and identifies the instrument; on any failure the
    // port is closed and forgotten, which the add-in sees in IsUnitPresent.
    void Attach(HANDLE hPort) override;
    bool IsActive(int32_t nDet, int32_t* pnStatus) override;
    // kOpDone, kOpBadArguments, or kOpNotRead when the spectrum could not be read.
    int32_t ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                     uint32_t* pdwDest) override;
    // Spectra cannot be written to this instrument: always kOpRefused.
    int32_t WriteData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                      uint32_t dwConfMask, const uint32_t* pdwSource) override;

    // True when the command code has an action (every code of the KORV
    // command set has one).
    static bool HasAction(int32_t nCode);

    uint32_t m_nWindowStart = 0;
    uint32_t m_nWindowLength = 0;
    uint32_t m_nRoiCursor = 0;  // used as 16 bits
    HANDLE m_hMapping = nullptr;
    KorvCommonData* m_pCommonData = nullptr;  // null when neither a mapping nor memory was had
    uint32_t m_nBaudRate = 9600;

    // Link protocol (korv_link.cpp), what the command translation builds on.
    // Each sets the error pair only when it fails: -3/0 not transferred,
    // -1/0 rejected with "?".
    bool QueryInstrument(const char* pszCmd, char* pszReply, uint32_t cbReply, int32_t& nMac, int32_t& nMic);
    bool QueryCmd(const char* pszCmd, int32_t& nMac, int32_t& nMic);
    bool QueryCmdFormatted(const char* pszFormat, int32_t nValue, int32_t& nMac, int32_t& nMic);
    bool QueryInt(const char* pszCmd, uint32_t& nValue, int32_t& nMac, int32_t& nMic);
    bool QuerySignedInt(const char* pszCmd, int32_t& nValue, int32_t& nMac, int32_t& nMic);
    bool QueryDouble(const char* pszCmd, double& dValue, int32_t& nMac, int32_t& nMic);
    bool LoadRoiTable();
    bool WriteRoiTable(int32_t& nMac, int32_t& nMic);
    void NextRoiRange(uint16_t& wStart, uint16_t& wLength);
    bool ReadPresetState(int32_t& nMac, int32_t& nMic);
    bool QueryElapsedTimes(uint32_t& nTrueTicks, uint32_t& nLiveTicks, int32_t& nMac, int32_t& nMic);
    void RestoreDeviceState();
    bool SendIntegralPresets(uint32_t nPreset, int32_t& nMac, int32_t& nMic);
    // The instrument clock as month, day, year, hour, minute, second.
    bool ReadClock(const char* pszCmd, int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic);
    bool WriteClock(const int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic);
    void ResetWindow();

protected:
    bool ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp,
                 int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) override;

private:
    bool ConfigurePort(HANDLE hPort);
    bool IdentifyInstrument();
    bool CheckChannelData(int32_t& nMac, int32_t& nMic);
    bool TransferChannels(int32_t& nMac, int32_t& nMic);
    void ForgetChannels();
    bool ReadChannelHeader(int32_t& nCount, uint32_t& dwFormat);
    bool ReadChannelWords(int32_t nCount, uint32_t dwFormat);
    void ApplyRoiFlags();
    int32_t Port() const { return m_nMCB - kMcbPortOffset; }
};

}  // namespace linkbay
