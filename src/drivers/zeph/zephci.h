// The ZEPH driver: a binary request/response protocol. Every exchange is a
// 12-byte command frame answered by a 136-byte reply frame; the instrument
// reports its whole state in one status reply, which the driver keeps in the
// data it shares with every process that drives the port.
#pragma once

#include <cstdint>
#include <ctime>

#include "drivers/common/channel_data.h"
#include "serial/rs232ci.h"

namespace linkbay {

constexpr int32_t kZephChannels = 4096;
constexpr int32_t kZephRoiSlots = 30;
constexpr uint32_t kZephFrameSize = 12;
constexpr uint32_t kZephReplySize = 136;
constexpr uint32_t kZephBlockChannels = 32;

// Command frame codes.
namespace zeph_frame {
enum : uint16_t {
    kInitialise = 0x41, kStart = 0x42, kStop = 0x43, kClear = 0x44, kMode = 0x45, kConverter = 0x46,
    kThreshold = 0x47, kPreset = 0x48, kMarkRoi = 0x49, kAmplifier = 0x4C, kStabilisation = 0x4D,
    kHighVoltage = 0x4F, kShaping = 0x52, kPileUp = 0x53, kInputRoute = 0x54, kGainPolarity = 0x56,
    kWriteSlot = 0x57, kPoleZero = 0x58, kMeasurements = 0x59, kStatus = 0x5A, kBlock = 0x5B,
    kReadSlot = 0x5E,
};
}  // namespace zeph_frame

// Byte offsets of the status reply's fields; 16-bit unless marked 32.
namespace zeph_status {
enum : uint32_t {
    kMode = 2, kPresetKind = 4, kPresetValue32 = 6, kTrueSeconds32 = 22, kCountRate32 = 26,
    kDeadTimeMs32 = 30, kConversionGain = 38, kThreshold = 40, kLowerLevel = 42, kUpperLevel = 44,
    kCoarseGain = 50, kFineGain = 52, kDiscriminatorA = 54, kDiscriminatorB = 56, kHvApplied = 58,
    kHvPolarity = 60, kPower = 62, kPoleZero = 64, kDtcA = 66, kDtcB = 68, kStabilisationPeak = 70,
    kRegionStart = 74, kRegionEnd = 76, kInputRoute = 78, kGainPolarity = 80, kShaping = 82,
    kPileUp = 84, kSerialNumber = 88, kRevision = 90, kFirmware = 92, kStartTime32 = 102,
    kShutdownMode = 124, kState = 130,
};
}  // namespace zeph_status

// Acquisition states of the status reply.
constexpr uint16_t kZephRunning = 2;
constexpr uint16_t kZephResumable = 3;
constexpr uint16_t kZephPresetReached = 4;

// Little-endian fields of a reply frame.
inline uint16_t ReplyU16(const uint8_t* pb, uint32_t nOffset) {
    return static_cast<uint16_t>(pb[nOffset] | (pb[nOffset + 1] << 8));
}
inline uint32_t ReplyU32(const uint8_t* pb, uint32_t nOffset) {
    return ReplyU16(pb, nOffset) | (static_cast<uint32_t>(ReplyU16(pb, nOffset + 2)) << 16);
}

// Per-instrument data, shared through the mapping "ZEPHCI%5.5d" by every
// process that drives the same port, so that one status read and one
// spectrum read serve all of them.
struct ZephCommonData : ChannelData<kZephChannels, kZephRoiSlots> {
    uint8_t abStatus[kZephReplySize];  // the last status reply, whole
    uint32_t dwStatusTick;
    uint8_t bStatusValid;
};

class ZEPHCI : public RS232CI {
public:
    using Reply = uint8_t[kZephReplySize];

    explicit ZEPHCI(int32_t nMCB);
    ~ZEPHCI() override;

    // Configures the port and reads the status; on any failure the port is
    // closed and forgotten, which the add-in sees in IsUnitPresent.
    void Attach(HANDLE hPort) override;
    bool IsActive(int32_t nDet, int32_t* pnStatus) override;
    // kOpDone, kOpBadArguments, or kOpNotRead when the spectrum could not be read.
    int32_t ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                     uint32_t* pdwDest) override;
    // Spectra cannot be written to this instrument: always kOpRefused.
    int32_t WriteData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                      uint32_t dwConfMask, const uint32_t* pdwSource) override;

    static bool HasAction(int32_t nCode);

    uint32_t m_nWindowStart = 0;
    uint32_t m_nWindowLength = 0;
    uint32_t m_nRoiCursor = 0;  // used as 16 bits
    HANDLE m_hMapping = nullptr;
    ZephCommonData* m_pCommonData = nullptr;  // null when neither a mapping nor memory was had
    uint32_t m_nBaudRate = 38400;

    // Link protocol (zeph_link.cpp), what the command translation builds on.
    // Each sets the error pair only when it fails: -3/0 no valid reply after
    // two attempts, -1/0 rejected by the instrument.
    bool QueryInstrument(uint16_t wCode, uint16_t wP1, uint16_t wP2, uint16_t wP3, Reply& abReply,
                         int32_t& nMac, int32_t& nMic);
    // A frame whose reply carries nothing the caller uses.
    bool SendFrame(uint16_t wCode, uint16_t wP1, uint16_t wP2, uint16_t wP3, int32_t& nMac, int32_t& nMic);
    bool CheckStatusData(int32_t& nMac, int32_t& nMic);
    uint16_t Status16(uint32_t nOffset) const { return ReplyU16(m_pCommonData->abStatus, nOffset); }
    uint32_t Status32(uint32_t nOffset) const { return ReplyU32(m_pCommonData->abStatus, nOffset); }
    // A field the instrument accepted a new value for, without a new status read.
    void SetStatus16(uint32_t nOffset, uint16_t wValue);
    bool IsRunning() const { return Status16(zeph_status::kState) == kZephRunning; }
    bool CheckChannelData(int32_t& nMac, int32_t& nMic);
    bool LoadRoiTable();
    void WriteRoiTable();
    void NextRoiRange(uint16_t& wStart, uint16_t& wLength);
    // kind: 1 true time, 2 live time, 3 integral; a value of 0 clears the preset.
    bool SetPreset(uint32_t nValue, uint16_t wKind, int32_t& nMac, int32_t& nMic);
    bool ReadHvTarget(uint16_t& wTarget, int32_t& nMac, int32_t& nMic);
    bool WriteHvTarget(uint16_t wTarget, int32_t& nMac, int32_t& nMic);
    // 0x42 with the device time now: a start (or restart) that the
    // instrument dates.
    bool SendStart(uint16_t wMode, int32_t& nMac, int32_t& nMic);
    // Window 0 and the given length, ROI cursor 0.
    void ResetWindow(uint32_t nLength);

    // Device time: seconds of the calendar time shifted by the time-zone bias.
    static uint32_t LocalNowAsDeviceTime();
    static bool DeviceTimeToLocal(uint32_t dwDeviceTime, std::tm& local);

protected:
    bool ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp,
                 int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) override;

private:
    bool ConfigurePort(HANDLE hPort);
    bool ReadAllBlocks(int32_t& nMac, int32_t& nMic);
    int32_t Port() const { return m_nMCB - kMcbPortOffset; }

    // A spectrum read lands here first, so that a read that fails part-way
    // leaves the shared copy as it was.
    uint32_t m_dwBlocks[kZephChannels] = {};
    Reply m_abScratch = {};
};

}  // namespace linkbay
