// The KORV driver: a line-oriented hexadecimal ASCII protocol. Every device
// command is a two-digit opcode with decimal arguments and a carriage return;
// replies are a 4-byte acknowledgement or a line whose value starts at its
// fourth character.
#pragma once

#include <cstdint>

#include "serial/rs232ci.h"

namespace linkbay {

constexpr int32_t kKorvChannels = 4096;
constexpr int32_t kKorvRoiSlots = 29;
constexpr uint32_t kKorvRoiFlag = 0x80000000u;

// Per-instrument data, shared through a named mapping by every process that
// drives the same port, so that one spectrum transfer serves all of them.
struct KorvCommonData {
    uint32_t dwChannel[kKorvChannels];  // counts in bits 0..30, bit 31 = inside an ROI
    uint32_t dwLastReadTick;
    uint8_t bDataValid;
    int32_t nRoiCount;
    uint16_t wRoiStart[kKorvRoiSlots];
    uint16_t wRoiEnd[kKorvRoiSlots];  // inclusive
    uint8_t bRoiTableValid;
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
    // 1 done, -1 bad arguments, -3 the spectrum could not be read.
    int32_t ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                     uint32_t* pdwDest) override;
    // Spectra cannot be written to this instrument: always -10.
    int32_t WriteData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                      uint32_t dwConfMask, const uint32_t* pdwSource) override;

    // The shared data, or null when neither a mapping nor memory was had.
    const KorvCommonData* CommonData() const { return m_pCommonData; }

    uint32_t m_nWindowStart = 0;
    uint32_t m_nWindowLength = 0;
    uint32_t m_nRoiCursor = 0;  // used as 16 bits
    HANDLE m_hMapping = nullptr;
    KorvCommonData* m_pCommonData = nullptr;
    uint32_t m_nBaudRate = 9600;

    // One entry of the command dispatch table (korv_commands.cpp).
    struct Action;
    // The output side of one command: buffer, length and error pair.
    struct Answer {
        int32_t nSize;
        char* pszBuf;
        int32_t* pnLen;
        int32_t& nMac;
        int32_t& nMic;
    };

protected:
    bool ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp,
                 int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) override;

private:
    // Link protocol (korv_link.cpp). Each sets the error pair only when it
    // fails: -3/0 not transferred, -1/0 rejected with "?".
    bool QueryInstrument(const char* pszCmd, char* pszReply, uint32_t cbReply,
                         int32_t& nMac, int32_t& nMic);
    bool QueryCmd(const char* pszCmd, int32_t& nMac, int32_t& nMic);
    bool QueryCmdFormatted(const char* pszFormat, int32_t nValue, int32_t& nMac, int32_t& nMic);
    bool QueryInt(const char* pszCmd, uint32_t& nValue, int32_t& nMac, int32_t& nMic);
    bool QuerySignedInt(const char* pszCmd, int32_t& nValue, int32_t& nMac, int32_t& nMic);
    bool QueryDouble(const char* pszCmd, double& dValue, int32_t& nMac, int32_t& nMic);
    bool CheckChannelData(int32_t& nMac, int32_t& nMic);
    bool LoadRoiTable();
    void BuildRoiTable();
    bool WriteRoiTable(int32_t& nMac, int32_t& nMic);
    void NextRoiRange(uint16_t& wStart, uint16_t& wLength);
    bool ReadPresetState(int32_t& nMac, int32_t& nMic);
    bool QueryElapsedTimes(uint32_t& nTrueTicks, uint32_t& nLiveTicks, int32_t& nMac, int32_t& nMic);
    void RestoreDeviceState();

    // Helpers of the link protocol.
    void OpenCommonData();
    bool ConfigurePort(HANDLE hPort);
    bool IdentifyInstrument();
    bool TransferChannels(int32_t& nMac, int32_t& nMic);
    void ForgetChannels();
    bool ReadChannelHeader(int32_t& nCount, uint32_t& dwFormat);
    bool ReadChannelWords(int32_t nCount, uint32_t dwFormat);
    void ApplyRoiFlags();
    // Sets the flags of the table's entries; those of one channel only when asked.
    void MarkRoiTable(bool bSingleChannels);
    void SetRoiFlags(uint32_t nFirst, uint32_t nLast, bool bSet);
    bool SendIntegralPresets(uint32_t nPreset, int32_t& nMac, int32_t& nMic);
    bool ReadClock(const char* pszCmd, int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic);
    bool WriteClock(const int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic);
    void ResetWindow();
    int32_t Port() const { return m_nMCB - kMcbPortOffset; }

    // Command translation (korv_commands.cpp); one per kind of table row.
    static const Action* FindAction(int32_t nCode);
    static bool Written(bool bWritten, Answer& answer);
    bool DoNothing(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SendFixed(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SendArgument(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ResetWindowCmd(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetTimePreset(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetIntegralPreset(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetWindow(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetRoi(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetConversionGain(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetClock(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetShaping(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool SetHvPolarity(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowElapsed(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowStatus(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowConstant(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowActive(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowPreset(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowClock(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowValue(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowIntegralPreset(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowWindow(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowVersion(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowHv(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowPolarity(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowConfiguration(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowConversionGain(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowRoi(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowFeatures(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowConfMask(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowBlre(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowText(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowUart(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowSerialNumber(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowBattery(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ShowFlag(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool StartAcquisition(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ClearRoi(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ClearPresets(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool ListText(const Action& row, const ParsedCommand& cmd, Answer& answer);
    bool Initialize(const Action& row, const ParsedCommand& cmd, Answer& answer);

    static const Action s_actions[];
    static const int32_t s_nActions;
};

}  // namespace linkbay
