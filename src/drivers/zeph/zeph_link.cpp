// ZEPH link protocol: shared per-instrument data, attachment, the frame
// exchange with its retry rules, the status and spectrum caches, the ROI
// table slots, presets, the high-voltage target and the device clock.
#include <cstring>

#include "cmdlang/result_codes.h"
#include "drivers/common/shared_block.h"
#include "drivers/zeph/zeph_tables.h"
#include "drivers/zeph/zephci.h"
#include "serial/port_setup.h"

namespace linkbay {
namespace {

constexpr uint16_t kSync = 0x5AA5;
constexpr uint16_t kEndMark = 0x9BB9;
constexpr uint16_t kRejected = 0xAAAA;
constexpr uint32_t kTrailerOffset = 134;
constexpr uint32_t kBlockOffset = 2;

constexpr uint16_t kTableMarker = 0x4F52;  // slot 0 holds it beside the ROI count
constexpr uint16_t kHvTargetSlot = 31;
constexpr DWORD kStatusCacheMs = 500;

// 2048-byte queues; interval 1 s, 5 ms a byte and no constant per read,
// writes give up after 5 s; the instrument runs at 38400 baud only.
constexpr PortSetup kZephPort = {2048, 2048, {1000, 5, 0, 0, 5000}, 38400};

void PutU16(uint8_t* pb, uint16_t w) {
    pb[0] = static_cast<uint8_t>(w & 0xFF);
    pb[1] = static_cast<uint8_t>(w >> 8);
}

uint16_t Low16(uint32_t n) { return static_cast<uint16_t>(n & 0xFFFF); }
uint16_t High16(uint32_t n) { return static_cast<uint16_t>(n >> 16); }

}  // namespace

// ---- common data --------------------------------------------------------

ZEPHCI::ZEPHCI(int32_t nMCB) : RS232CI(kZephCommandSet, nMCB) {
    m_pCommonData = OpenSharedBlock<ZephCommonData>("ZEPHCI", m_nMCB, MappingReport::Direct, m_hMapping);
}

ZEPHCI::~ZEPHCI() { CloseSharedBlock(m_pCommonData, m_hMapping); }

// ---- attachment -----------------------------------------------------------

bool ZEPHCI::ConfigurePort(HANDLE hPort) {
    const PortSetupStep failed = ApplyPortSetup(hPort, kZephPort);
    if (failed == kSetupDone) return true;
    char szError[kErrorTextSize];
    DebugPrint(0, "ZEPHCI::Attach(COM%d:): Error in %s(): %s\r\n", Port(), kPortSetupCalls[failed],
               ErrorText(szError, sizeof szError));
    return false;
}

void ZEPHCI::Attach(HANDLE hPort) {
    Detach();
    m_nBaudRate = kZephPort.dwBaud;
    // Without common data there is nowhere to keep what the instrument
    // reports, so the driver holds no port and every operation fails at once.
    if (m_pCommonData == nullptr || !ConfigurePort(hPort)) {
        COMClose(hPort);
        return;
    }
    m_hPort = hPort;
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (!CheckStatusData(nMac, nMic)) {
        DebugPrint(0, "ZEPHCI::Attach(COM%d:): CheckStatusData() failed (not ZEPH)\r\n", Port());
        Detach();
        return;
    }
    ResetWindow(Status16(zeph_status::kConversionGain));
}

void ZEPHCI::ResetWindow(uint32_t nLength) {
    m_nWindowStart = 0;
    m_nWindowLength = nLength;
    m_nRoiCursor = 0;
}

bool ZEPHCI::IsActive(int32_t nDet, int32_t* pnStatus) {
    int32_t nStatus = kStatusNotServed;
    bool bResult = false;
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (nDet != kServedDetector) {
        nStatus = kStatusNotServed;
    } else if (m_pCommonData == nullptr || !CheckStatusData(nMac, nMic)) {
        nStatus = kStatusNoAnswer;
        bResult = true;
    } else {
        nStatus = 1;
        bResult = IsRunning();
    }
    if (pnStatus != nullptr) *pnStatus = nStatus;
    return bResult;
}

int32_t ZEPHCI::WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) { return kOpRefused; }

// ---- frames ---------------------------------------------------------------

bool ZEPHCI::QueryInstrument(uint16_t wCode, uint16_t wP1, uint16_t wP2, uint16_t wP3, Reply& abReply,
                             int32_t& nMac, int32_t& nMic) {
    uint8_t abFrame[kZephFrameSize];
    const uint16_t awFields[] = {kSync, wCode, wP1, wP2, wP3, kEndMark};
    for (uint32_t i = 0; i < kZephFrameSize / 2; ++i) PutU16(abFrame + 2 * i, awFields[i]);
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        COMPurge(m_hPort);
        if (!COMWrite(m_hPort, abFrame, sizeof abFrame) || !COMRead(m_hPort, abReply, kZephReplySize) ||
            ReplyU16(abReply, 0) != kSync) {
            continue;
        }
        if (ReplyU16(abReply, kTrailerOffset) != kRejected) return true;
        DebugPrint(0, "ZEPHCI::QueryInstrument(): Cmd 0x%02X failed\r\n", wCode);
        nMac = kMacRejected;
        nMic = 0;
        return false;
    }
    // Written only now: a retry that succeeds leaves the caller's pair alone.
    DebugPrint(0, "ZEPHCI::QueryInstrument(): Cmd 0x%02X failed\r\n", wCode);
    nMac = kMacNotSent;
    nMic = 0;
    return false;
}

bool ZEPHCI::SendFrame(uint16_t wCode, uint16_t wP1, uint16_t wP2, uint16_t wP3, int32_t& nMac, int32_t& nMic) {
    return QueryInstrument(wCode, wP1, wP2, wP3, m_abScratch, nMac, nMic);
}

// ---- status -----------------------------------------------------------------

bool ZEPHCI::CheckStatusData(int32_t& nMac, int32_t& nMic) {
    ZephCommonData& common = *m_pCommonData;
    if (common.bStatusValid && GetTickCount() - common.dwStatusTick <= kStatusCacheMs) return true;
    // Read into scratch first: a failed read must not leave half a frame
    // where every process looks for the status.
    if (!QueryInstrument(zeph_frame::kStatus, 0, 0, 0, m_abScratch, nMac, nMic)) return false;
    std::memcpy(common.abStatus, m_abScratch, sizeof common.abStatus);
    common.dwStatusTick = GetTickCount();
    common.bStatusValid = 1;
    return true;
}

void ZEPHCI::SetStatus16(uint32_t nOffset, uint16_t wValue) { PutU16(m_pCommonData->abStatus + nOffset, wValue); }

// ---- spectrum -------------------------------------------------------------

int32_t ZEPHCI::ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount, uint32_t* pdwDest) {
    int32_t nMac = 0;
    int32_t nMic = 0;
    return ReadCachedRange(m_pCommonData, nDet, nSegment, nFirst, nCount, pdwDest,
                           [&] { return CheckChannelData(nMac, nMic); });
}

bool ZEPHCI::CheckChannelData(int32_t& nMac, int32_t& nMic) {
    ZephCommonData& common = *m_pCommonData;
    if (common.IsFresh()) return true;
    if (!ReadAllBlocks(nMac, nMic)) return false;
    std::memcpy(common.dwChannel, m_dwBlocks, sizeof common.dwChannel);
    if (!common.bRoiTableValid) {
        LoadRoiTable();
    } else {
        common.MarkRoiTable(false);
    }
    common.MarkRead();
    return true;
}

bool ZEPHCI::ReadAllBlocks(int32_t& nMac, int32_t& nMic) {
    for (uint32_t nFirst = 0; nFirst < static_cast<uint32_t>(kZephChannels); nFirst += kZephBlockChannels) {
        if (!QueryInstrument(zeph_frame::kBlock, static_cast<uint16_t>(nFirst), 1, 0, m_abScratch, nMac, nMic)) {
            return false;
        }
        for (uint32_t i = 0; i < kZephBlockChannels; ++i) {
            m_dwBlocks[nFirst + i] = HeldCount(ReplyU32(m_abScratch, kBlockOffset + 4 * i));
        }
    }
    return true;
}

// ---- ROI table ------------------------------------------------------------

bool ZEPHCI::LoadRoiTable() {
    ZephCommonData& common = *m_pCommonData;
    common.nRoiCount = 0;
    common.SetRoiFlags(0, kZephChannels - 1, false);
    int32_t nMac = 0;
    int32_t nMic = 0;
    bool bOk = QueryInstrument(zeph_frame::kReadSlot, 0, 0, 0, m_abScratch, nMac, nMic);
    const uint32_t dwHeader = ReplyU32(m_abScratch, 2);
    // More entries than slots cannot be asked for: the count is held to the slots.
    const uint16_t wCount = bOk && Low16(dwHeader) == kTableMarker ? High16(dwHeader) : 0;
    for (uint16_t wSlot = 1; wSlot <= wCount && wSlot <= kZephRoiSlots; ++wSlot) {
        if (!QueryInstrument(zeph_frame::kReadSlot, wSlot, 0, 0, m_abScratch, nMac, nMic)) {
            bOk = false;
            break;
        }
        const uint32_t dwEntry = ReplyU32(m_abScratch, 2);
        const uint16_t wStart = Low16(dwEntry);
        const uint16_t wEnd = High16(dwEntry);
        if (wStart < wEnd && wEnd < kZephChannels) common.SetRoiFlags(wStart, wEnd, true);
    }
    common.BuildRoiTable();
    return bOk;
}

// The instrument keeps what was sent up to a failing slot; nothing reports it.
void ZEPHCI::WriteRoiTable() {
    ZephCommonData& common = *m_pCommonData;
    common.BuildRoiTable();
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (!SendFrame(zeph_frame::kWriteSlot, 0, kTableMarker, static_cast<uint16_t>(common.nRoiCount), nMac, nMic)) {
        return;
    }
    for (int32_t n = 1; n <= common.nRoiCount; ++n) {
        if (!SendFrame(zeph_frame::kWriteSlot, static_cast<uint16_t>(n), common.wRoiStart[n - 1],
                       common.wRoiEnd[n - 1], nMac, nMic)) {
            return;
        }
    }
}

void ZEPHCI::NextRoiRange(uint16_t& wStart, uint16_t& wLength) {
    if (!m_pCommonData->bRoiTableValid) LoadRoiTable();
    m_pCommonData->NextRoiRange(m_nRoiCursor, wStart, wLength);
}

// ---- presets, high voltage, start -------------------------------------------

bool ZEPHCI::SetPreset(uint32_t nValue, uint16_t wKind, int32_t& nMac, int32_t& nMic) {
    return SendFrame(zeph_frame::kPreset, nValue == 0 ? 0 : wKind, Low16(nValue), High16(nValue), nMac, nMic);
}

bool ZEPHCI::ReadHvTarget(uint16_t& wTarget, int32_t& nMac, int32_t& nMic) {
    if (!QueryInstrument(zeph_frame::kReadSlot, kHvTargetSlot, 0, 0, m_abScratch, nMac, nMic)) return false;
    wTarget = ReplyU16(m_abScratch, 2);
    return true;
}

bool ZEPHCI::WriteHvTarget(uint16_t wTarget, int32_t& nMac, int32_t& nMic) {
    return SendFrame(zeph_frame::kWriteSlot, kHvTargetSlot, wTarget, 0, nMac, nMic);
}

bool ZEPHCI::SendStart(uint16_t wMode, int32_t& nMac, int32_t& nMic) {
    const uint32_t dwNow = LocalNowAsDeviceTime();
    return SendFrame(zeph_frame::kStart, wMode, Low16(dwNow), High16(dwNow), nMac, nMic);
}

// ---- clock ----------------------------------------------------------------

// Wraps like the instrument's 32-bit counter; a bias of any size only shifts it.
uint32_t ZEPHCI::LocalNowAsDeviceTime() {
    return static_cast<uint32_t>(UnixSecondsNow() + 60 * static_cast<int64_t>(TimeZoneBiasMinutes()));
}

bool ZEPHCI::DeviceTimeToLocal(uint32_t dwDeviceTime, std::tm& local) {
    return LocalCalendarTime(static_cast<int64_t>(dwDeviceTime) - 60 * static_cast<int64_t>(TimeZoneBiasMinutes()),
                             local);
}

}  // namespace linkbay
