// KORV link protocol: shared per-instrument data, attachment, request and
// reply framing, the spectrum transfer, the ROI table and the preset and
// elapsed-time bookkeeping.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cmdlang/numbers.h"
#include "cmdlang/result_codes.h"
#include "drivers/common/shared_block.h"
#include "drivers/korv/korv_tables.h"
#include "drivers/korv/korvci.h"
#include "serial/detector_profile.h"
#include "serial/port_setup.h"

namespace linkbay {
namespace {

constexpr uint32_t kAckSize = 5;     // 4-byte acknowledgement and NUL
constexpr uint32_t kValueSize = 16;  // value replies: up to 15 characters
constexpr uint32_t kLineSize = 32;   // clock, ROI and transfer header replies
constexpr uint32_t kHeaderLimit = 26;
constexpr int kValueOffset = 3;      // the first three reply characters carry no value

constexpr uint32_t kDefaultBaud = 9600;
constexpr long kMinBaud = 300;
constexpr long kMaxBaud = 128000;
// 16848/64-byte queues; interval 1 s, 5 ms per byte plus 2 s per read,
// writes give up after 5 s. The speed is the configured one.
constexpr PortSetup kKorvPort = {16848, 64, {1000, 5, 2000, 0, 5000}, kDefaultBaud};

constexpr uint32_t kWidth1 = 0x100;
constexpr uint32_t kWidth2 = 0x200;
constexpr uint32_t kWidth4 = 0x400;

constexpr uint32_t kMinutesBeforeOverflow = 1092;  // 1092 minutes no longer fit 16-bit seconds
constexpr uint32_t kTicksPerSecond = 50;
constexpr uint64_t kMaxTicks = 0x7FFFFFFF;  // the most MulDiv takes

const char kIntPresetKey[] = "KRIntPreset";

// Like atoi, held above -2^31 so that the value can always be negated.
long ToSigned(const char* psz) {
    const int32_t n = ToSigned32(psz);
    return n < -0x7fffffff ? -0x7fffffffL : static_cast<long>(n);
}

}  // namespace

// ---- common data --------------------------------------------------------

KORVCI::KORVCI(int32_t nMCB) : RS232CI(kKorvCommandSet, nMCB) {
    m_pCommonData = OpenSharedBlock<KorvCommonData>("KORVCI", m_nMCB, MappingReport::Levelled, m_hMapping);
}

KORVCI::~KORVCI() { CloseSharedBlock(m_pCommonData, m_hMapping); }

// ---- attachment -----------------------------------------------------------

namespace {

uint32_t ConfiguredBaudRate() {
    char szBaud[32];
    GetPrivateProfileStringA("CONFIG", "BaudRate", "9600", szBaud, sizeof szBaud, kConfigFile);
    const long nBaud = ToSigned(szBaud);
    return (nBaud >= kMinBaud && nBaud <= kMaxBaud) ? static_cast<uint32_t>(nBaud) : kDefaultBaud;
}

}  // namespace

bool KORVCI::ConfigurePort(HANDLE hPort) {
    PortSetup setup = kKorvPort;
    setup.dwBaud = m_nBaudRate;
    const PortSetupStep failed = ApplyPortSetup(hPort, setup);
    if (failed == kSetupDone) return true;
    char szError[kErrorTextSize];
    DebugPrint(0, "KORVCI::Attach(COM%d:): Error in %s(): %s\r\n", Port(), kPortSetupCalls[failed],
               ErrorText(szError, sizeof szError));
    return false;
}

// Two probes that only a KORV instrument answers without a question mark.
bool KORVCI::IdentifyInstrument() {
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (!QueryInt("33\r", m_pCommonData->nConversionGain, nMac, nMic)) {
        DebugPrint(0, "KORVCI::Attach(COM%d:): QueryInt() failed (not KORV?)\r\n", Port());
        return false;
    }
    if (!QueryCmd("12 0\r", nMac, nMic)) {
        DebugPrint(0, "KORVCI::Attach(COM%d:): QueryCmd() failed (not KORV?)\r\n", Port());
        return false;
    }
    return true;
}

void KORVCI::Attach(HANDLE hPort) {
    Detach();
    m_nBaudRate = ConfiguredBaudRate();
    // Without common data there is nowhere to keep what the instrument
    // reports, so the driver holds no port and every operation fails at once.
    if (m_pCommonData == nullptr) {
        COMClose(hPort);
        m_nWindowStart = m_nWindowLength = m_nRoiCursor = 0;
        return;
    }
    if (!ConfigurePort(hPort)) {
        COMClose(hPort);
    } else {
        m_hPort = hPort;
        if (!IdentifyInstrument()) Detach();
    }
    ResetWindow();
    char szPreset[16];
    GetDetectorProfileString(m_nMCB, kServedDetector, kIntPresetKey, "0", szPreset, sizeof szPreset);
    m_pCommonData->nIntegralPreset = ToUnsigned32(szPreset);
}

void KORVCI::ResetWindow() {
    m_nWindowStart = 0;
    m_nWindowLength = m_pCommonData->nConversionGain;
    m_nRoiCursor = 0;
}

bool KORVCI::IsActive(int32_t nDet, int32_t* pnStatus) {
    if (pnStatus != nullptr) *pnStatus = 1;
    if (nDet != kServedDetector) return false;
    int32_t nMac = 0;
    int32_t nMic = 0;
    uint32_t dwStatus = 0;
    if (!QueryInt("67\r", dwStatus, nMac, nMic)) return false;
    return (dwStatus & (0x2000u | 0x1u | 0x2u)) != 0;
}

int32_t KORVCI::WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) {
    return kOpRefused;
}

// ---- framing --------------------------------------------------------------

bool KORVCI::QueryInstrument(const char* pszCmd, char* pszReply, uint32_t cbReply,
                             int32_t& nMac, int32_t& nMic) {
    char szError[kErrorTextSize];
    const uint32_t cbCmd = static_cast<uint32_t>(std::strlen(pszCmd));
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        // Zeroed for each attempt so a short second reply never shows the
        // tail of the first.
        std::memset(pszReply, 0, cbReply);
        COMPurge(m_hPort);
        if (!COMWrite(m_hPort, pszCmd, cbCmd)) {
            DebugPrint(0, "KORVCI::QueryInstrument(COM%d: \"%s\"): Error sending command:\r\n    %s\r\n",
                       Port(), pszCmd, ErrorText(szError, sizeof szError));
            continue;
        }
        if (!COMRead(m_hPort, pszReply, 4)) {
            DebugPrint(0, "KORVCI::QueryInstrument(COM%d: \"%s\"): Error reading response:\r\n    %s\r\n",
                       Port(), pszCmd, ErrorText(szError, sizeof szError));
            continue;
        }
        if (pszReply[0] == '?') {
            DebugPrint(0, "KORVCI::QueryInstrument(COM%d: \"%s\"): Unrecognized Command!\r\n", Port(), pszCmd);
            nMac = kMacRejected;
            nMic = 0;
            return false;
        }
        if (cbReply <= kAckSize) return true;
        uint32_t nPos = 4;
        for (; nPos < cbReply - 1; ++nPos) {
            if (!COMRead(m_hPort, pszReply + nPos, 1)) break;
            if (pszReply[nPos] == '\n') return true;
        }
        if (nPos == cbReply - 1) {
            DebugPrint(0, "KORVCI::QueryInstrument(COM%d: \"%s\"): Too Much Response!\r\n", Port(), pszCmd);
        } else {
            DebugPrint(0, "KORVCI::QueryInstrument(COM%d: \"%s\"): Error in extended response:\r\n    %s\r\n",
                       Port(), pszCmd, ErrorText(szError, sizeof szError));
        }
    }
    // Written only now: a retry that succeeds leaves the caller's pair alone.
    nMac = kMacNotSent;
    nMic = 0;
    return false;
}

bool KORVCI::QueryCmd(const char* pszCmd, int32_t& nMac, int32_t& nMic) {
    char szAck[kAckSize];
    return QueryInstrument(pszCmd, szAck, sizeof szAck, nMac, nMic);
}

bool KORVCI::QueryCmdFormatted(const char* pszFormat, int32_t nValue, int32_t& nMac, int32_t& nMic) {
    char szCmd[32];
    std::snprintf(szCmd, sizeof szCmd, pszFormat, nValue);
    return QueryCmd(szCmd, nMac, nMic);
}

bool KORVCI::QueryInt(const char* pszCmd, uint32_t& nValue, int32_t& nMac, int32_t& nMic) {
    char szReply[kValueSize];
    nValue = 0;
    if (!QueryInstrument(pszCmd, szReply, sizeof szReply, nMac, nMic)) return false;
    nValue = ToUnsigned32(szReply + kValueOffset);
    return true;
}

bool KORVCI::QuerySignedInt(const char* pszCmd, int32_t& nValue, int32_t& nMac, int32_t& nMic) {
    char szReply[kValueSize];
    nValue = 0;
    if (!QueryInstrument(pszCmd, szReply, sizeof szReply, nMac, nMic)) return false;
    nValue = static_cast<int32_t>(ToSigned(szReply + kValueOffset));
    return true;
}

bool KORVCI::QueryDouble(const char* pszCmd, double& dValue, int32_t& nMac, int32_t& nMic) {
    char szReply[kValueSize];
    dValue = 0.0;
    if (!QueryInstrument(pszCmd, szReply, sizeof szReply, nMac, nMic)) return false;
    dValue = std::strtod(szReply + kValueOffset, nullptr);
    return true;
}

// ---- spectrum -------------------------------------------------------------

int32_t KORVCI::ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount, uint32_t* pdwDest) {
    int32_t nMac = 0;
    int32_t nMic = 0;
    return ReadCachedRange(m_pCommonData, nDet, nSegment, nFirst, nCount, pdwDest,
                           [&] { return CheckChannelData(nMac, nMic); });
}

// A failed "fb\r" request fails the read: an all-zero spectrum would look
// like data to the host.
bool KORVCI::CheckChannelData(int32_t& nMac, int32_t& nMic) {
    KorvCommonData& common = *m_pCommonData;
    if (common.IsFresh()) return true;
    if (!TransferChannels(nMac, nMic)) {
        ForgetChannels();
        return false;
    }
    ApplyRoiFlags();
    common.MarkRead();
    return true;
}

bool KORVCI::TransferChannels(int32_t& nMac, int32_t& nMic) {
    std::memset(m_pCommonData->dwChannel, 0, sizeof m_pCommonData->dwChannel);
    char szHeader[kLineSize];
    if (!QueryInstrument("fb\r", szHeader, sizeof szHeader, nMac, nMic)) return false;
    if (std::strlen(szHeader) >= kHeaderLimit) {
        DebugPrint(0, "KORVCI::CheckChannelData(): Failed to get initial header\r\n");
        nMac = kMacNotSent;
        nMic = 0;
        return false;
    }
    int32_t nCount = 0;
    uint32_t dwFormat = 0;
    if (!ReadChannelHeader(nCount, dwFormat) || !ReadChannelWords(nCount, dwFormat)) {
        nMac = kMacNotSent;
        nMic = 0;
        return false;
    }
    return true;
}

// The channel flags are the working copy of the ROI table that the next
// SET_ROI or CLEAR_ROI writes back: after a transfer that cleared them or
// left raw bytes in them, they are marked again from the table, every entry
// included, so that no ROI of the instrument is lost.
void KORVCI::ForgetChannels() {
    KorvCommonData& common = *m_pCommonData;
    std::memset(common.dwChannel, 0, sizeof common.dwChannel);
    common.bDataValid = 0;
    if (common.bRoiTableValid) common.MarkRoiTable(true);
}

// The count line ("... <channels>\n") and the 4-digit hexadecimal format word.
bool KORVCI::ReadChannelHeader(int32_t& nCount, uint32_t& dwFormat) {
    char szLine[kLineSize];
    uint32_t nPos = 0;
    for (;; ++nPos) {
        if (nPos == sizeof szLine) return false;
        if (!COMRead(m_hPort, szLine + nPos, 1)) {
            DebugPrint(0, "KORVCI::CheckChannelData(): Failed to get 2nd initial record\r\n");
            return false;
        }
        if (szLine[nPos] == '\n') break;
    }
    szLine[nPos] = '\0';
    const char* pSpace = std::strrchr(szLine, ' ');
    nCount = pSpace != nullptr ? static_cast<int32_t>(ToSigned(pSpace + 1)) : 0;
    // More channels than the array holds cannot be taken without losing data.
    if (nCount < 0 || nCount > kKorvChannels) {
        DebugPrint(0, "KORVCI::CheckChannelData(): Channel count %d out of range\r\n", nCount);
        return false;
    }
    char szFormat[5] = {};
    if (!COMRead(m_hPort, szFormat, 4)) {
        DebugPrint(0, "KORVCI::CheckChannelData(): Failed to get 3rd initial record\r\n");
        return false;
    }
    dwFormat = static_cast<uint32_t>(std::strtoul(szFormat, nullptr, 16));
    return true;
}

// Little-endian words of 1, 2 or 4 bytes, read into the front of the array
// and widened in place from the top down so no value is overwritten unread.
bool KORVCI::ReadChannelWords(int32_t nCount, uint32_t dwFormat) {
    uint32_t nWidth = 0;
    if (dwFormat & kWidth1) nWidth = 1;
    else if (dwFormat & kWidth2) nWidth = 2;
    else if (dwFormat & kWidth4) nWidth = 4;
    const uint32_t cbData = nWidth * static_cast<uint32_t>(nCount);
    if (cbData == 0) return true;
    uint32_t* pdwChannel = m_pCommonData->dwChannel;
    auto* pBytes = reinterpret_cast<unsigned char*>(pdwChannel);
    if (!COMRead(m_hPort, pBytes, cbData)) return false;
    for (int32_t i = nCount - 1; i >= 0; --i) {
        const unsigned char* p = pBytes + static_cast<size_t>(i) * nWidth;
        uint32_t dwValue = 0;
        for (uint32_t b = nWidth; b-- > 0;) dwValue = (dwValue << 8) | p[b];
        pdwChannel[i] = HeldCount(dwValue);
    }
    return true;
}

// Entries of a single channel are not marked here; only a fresh table load
// marks them.
void KORVCI::ApplyRoiFlags() {
    if (!m_pCommonData->bRoiTableValid) {
        LoadRoiTable();
        return;
    }
    m_pCommonData->MarkRoiTable(false);
}

// ---- ROI table ------------------------------------------------------------

bool KORVCI::LoadRoiTable() {
    KorvCommonData& common = *m_pCommonData;
    if (common.bRoiTableValid) return true;
    common.nRoiCount = 0;
    common.SetRoiFlags(0, kKorvChannels - 1, false);
    bool bOk = true;
    int32_t nMac = 0;
    int32_t nMic = 0;
    for (int32_t n = 1; n <= kKorvRoiSlots; ++n) {
        char szCmd[16];
        char szReply[kLineSize];
        std::snprintf(szCmd, sizeof szCmd, "f6 %d\r", n);
        if (!QueryInstrument(szCmd, szReply, sizeof szReply, nMac, nMic)) {
            bOk = false;
            break;
        }
        const char* p = szReply + kValueOffset;
        ToUnsigned32(p, &p);  // the slot number
        const uint32_t nStart = ToUnsigned32(p, &p);
        const uint32_t nEnd = ToUnsigned32(p, &p);
        if (nStart <= nEnd) common.SetRoiFlags(nStart, nEnd, true);
    }
    common.BuildRoiTable();
    return bOk;
}

bool KORVCI::SendIntegralPresets(uint32_t nPreset, int32_t& nMac, int32_t& nMic) {
    bool bOk = true;
    for (int32_t n = 1; n <= m_pCommonData->nRoiCount && bOk; ++n) {
        char szCmd[32];
        std::snprintf(szCmd, sizeof szCmd, "a4 %d %u\r", n, nPreset);
        bOk = QueryCmd(szCmd, nMac, nMic);
    }
    return bOk;
}

bool KORVCI::WriteRoiTable(int32_t& nMac, int32_t& nMic) {
    m_pCommonData->BuildRoiTable();
    const KorvCommonData& common = *m_pCommonData;
    if (!QueryCmd("a1\r", nMac, nMic) || common.nRoiCount == 0) return true;
    bool bOk = true;
    for (int32_t n = 1; n <= common.nRoiCount && bOk; ++n) {
        char szCmd[32];
        std::snprintf(szCmd, sizeof szCmd, "a2 %02d %04d %04d\r", n, common.wRoiStart[n - 1],
                      common.wRoiEnd[n - 1]);
        bOk = QueryCmd(szCmd, nMac, nMic);
        if (!bOk) break;
        std::snprintf(szCmd, sizeof szCmd, "a4 %d %u\r", n, common.nIntegralPreset);
        bOk = QueryCmd(szCmd, nMac, nMic);
    }
    return bOk;
}

void KORVCI::NextRoiRange(uint16_t& wStart, uint16_t& wLength) {
    LoadRoiTable();
    m_pCommonData->NextRoiRange(m_nRoiCursor, wStart, wLength);
}

// ---- presets and elapsed time --------------------------------------------

bool KORVCI::ReadPresetState(int32_t& nMac, int32_t& nMic) {
    KorvCommonData& common = *m_pCommonData;
    if (common.bPresetsKnown) return true;
    uint32_t nMode = 0;
    uint32_t nValue = 0;
    uint32_t nBase = 0;
    if (!QueryInt("40\r", nMode, nMac, nMic) || !QueryInt("31\r", nValue, nMac, nMic) ||
        !QueryInt("32\r", nBase, nMac, nMic)) {
        return false;
    }
    common.nPresetMode = nMode;
    common.nPresetValue = nValue;
    common.nPresetTimeBase = nBase;
    common.bPresetsKnown = 1;
    return true;
}

bool KORVCI::QueryElapsedTimes(uint32_t& nTrueTicks, uint32_t& nLiveTicks, int32_t& nMac, int32_t& nMic) {
    nTrueTicks = 0;
    nLiveTicks = 0;
    if (!ReadPresetState(nMac, nMic)) return false;
    const KorvCommonData& common = *m_pCommonData;
    uint64_t nSeconds = 0;  // wide enough for any minute count in seconds
    uint32_t nRead = 0;
    if (common.nPresetTimeBase == 0) {
        if (!QueryCmd("02 0\r", nMac, nMic) || !QueryInt("66\r", nRead, nMac, nMic)) return false;
        nSeconds = nRead;
    } else {
        uint32_t nMinutes = 0;
        if (!QueryCmd("02 1\r", nMac, nMic) || !QueryInt("66\r", nMinutes, nMac, nMic)) return false;
        if (nMinutes >= kMinutesBeforeOverflow) {
            nSeconds = static_cast<uint64_t>(nMinutes) * 60;
        } else {
            // The minute count is too coarse: read seconds, then restore the unit.
            if (!QueryCmd("02 0\r", nMac, nMic) || !QueryInt("66\r", nRead, nMac, nMic)) return false;
            nSeconds = nRead;
            int32_t nIgnoredMac = 0;
            int32_t nIgnoredMic = 0;
            QueryCmd("02 1\r", nIgnoredMac, nIgnoredMic);
        }
    }
    uint32_t nPercent = 0;
    const bool bOk = QueryInt("68\r", nPercent, nMac, nMic);
    if (nPercent > 100) nPercent = 100;
    // An elapsed time no instrument counter reaches is held, not wrapped.
    const uint64_t nAllTicks = nSeconds * kTicksPerSecond;
    const uint32_t nTicks = static_cast<uint32_t>(nAllTicks < kMaxTicks ? nAllTicks : kMaxTicks);
    const INT nT = static_cast<INT>(nTicks);
    if (common.nPresetMode == 0) {
        nLiveTicks = nTicks;
        nTrueTicks = nPercent == 0 ? nTicks : static_cast<uint32_t>(MulDiv(nT, 100, static_cast<INT>(nPercent)));
    } else {
        nTrueTicks = nTicks;
        nLiveTicks = static_cast<uint32_t>(MulDiv(nT, static_cast<INT>(nPercent), 100));
    }
    return bOk;
}

void KORVCI::RestoreDeviceState() {
    KorvCommonData& common = *m_pCommonData;
    int32_t nMac = 0;
    int32_t nMic = 0;
    QueryCmd("96\r", nMac, nMic);
    if (!QueryInt("33\r", common.nConversionGain, nMac, nMic)) common.nConversionGain = kKorvChannels;
    QueryCmdFormatted("10 %d\r", static_cast<int32_t>(common.nPresetMode), nMac, nMic);
    QueryCmdFormatted("02 %d\r", static_cast<int32_t>(common.nPresetTimeBase), nMac, nMic);
    QueryCmdFormatted("01 %d\r", static_cast<int32_t>(common.nPresetValue), nMac, nMic);
    LoadRoiTable();
    SendIntegralPresets(common.nIntegralPreset, nMac, nMic);
}

// ---- clock ----------------------------------------------------------------

bool KORVCI::ReadClock(const char* pszCmd, int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic) {
    char szReply[kLineSize];
    for (int32_t& n : nFields) n = 0;
    if (!QueryInstrument(pszCmd, szReply, sizeof szReply, nMac, nMic)) return false;
    const char* p = szReply + kValueOffset;
    for (int32_t& n : nFields) n = ToSigned32(p, &p);
    return true;
}

bool KORVCI::WriteClock(const int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic) {
    char szCmd[48];
    std::snprintf(szCmd, sizeof szCmd, "2f %02d %02d %02d %02d %02d %02d\r", nFields[0], nFields[1], nFields[2],
                  nFields[3], nFields[4], nFields[5]);
    return QueryCmd(szCmd, nMac, nMic);
}

}  // namespace linkbay
