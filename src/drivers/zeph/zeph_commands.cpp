// ZEPH command translation: reports come mostly from the cached status
// reply; settings go out as frames that often carry a new value beside
// others taken from the status, since one frame sets several things at once.
#include <cstdio>
#include <cstring>

#include "cmdlang/records.h"
#include "cmdlang/result_codes.h"
#include "drivers/common/dispatch.h"
#include "drivers/common/identity_answers.h"
#include "drivers/zeph/zeph_tables.h"
#include "drivers/zeph/zephci.h"

namespace linkbay {
namespace {

namespace code = zeph_code;
namespace frame = zeph_frame;
namespace status = zeph_status;

// A status field's values by name; any other value reads as pszOther.
struct FieldName {
    int16_t nValue;
    const char* pszText;
};
struct FieldNames {
    FieldName entries[3];
    int32_t nEntries;
    const char* pszOther;
};

// What a row sends or reads: a frame with its first parameter, and the
// status field the row reports or updates.
struct ZephOp {
    uint16_t wFrame;
    uint16_t wP1;
    uint32_t nField;
    const FieldNames* pNames;
};

using Row = DispatchRow<ZEPHCI, ZephOp>;

constexpr uint32_t kTicksPerSecond = 50;
constexpr uint32_t kMinRegionWidth = 5;
constexpr uint32_t kMaxRegionWidth = 250;
constexpr int32_t kLevelMargin = 3;     // a stabilisation peak keeps this far from either level
constexpr uint16_t kGainAdjustMiddle = 125;
constexpr double kHvPerMeasureUnit = 1.2;
constexpr uint32_t kBatteryValues[] = {10, 14, 18, 22, 2, 6, 54};  // measurement offsets, in text order

// Row parameters.
constexpr int32_t kTrueTime = 1;  // also the preset kinds the instrument uses
constexpr int32_t kLiveTime = 2;
constexpr int32_t kIntegral = 3;
constexpr int32_t kIntegralAlso = 4;
constexpr int32_t kDate = 0;
constexpr int32_t kTime = 1;
constexpr int32_t kAtStart = 2;  // ShowClock: the acquisition start, not now
constexpr int32_t kCoarse = 0;
constexpr int32_t kFine = 1;
constexpr int32_t kLower = 0;
constexpr int32_t kUpper = 1;
constexpr int32_t kFromArgument = 1;  // SendSetting: p1 is the command's argument
constexpr int32_t kModeFromArgument = 2;  // SetShutdown: arguments 0, 1, 2 are TTL, KELDA, OFF
constexpr int32_t kOn = 1;
constexpr int32_t kOff = 0;

constexpr int16_t kShutdownKelda = -1;
constexpr int16_t kShutdownOff = 0;
constexpr int16_t kShutdownTtl = 1;

constexpr FieldNames kModeNames = {{{0, "PHA"}}, 1, "MCS"};
constexpr FieldNames kHvPolarityNames = {{{0, "POS"}}, 1, "NEG"};
constexpr FieldNames kGainPolarityNames = {{{1, "NEG"}}, 1, "POS"};
constexpr FieldNames kShutdownNames = {
    {{kShutdownKelda, "1KEL"}, {kShutdownOff, "2OFF"}, {kShutdownTtl, "0TTL"}}, 3, "???"};
constexpr FieldNames kInputRouteNames = {{{0, "0AMP"}, {3, "3DIR+"}, {4, "4DIR-"}}, 3, "????"};

// The commands that change what the status reports: the cached status is
// dropped after them, whatever their outcome, so the next report reads it anew.
constexpr int32_t kStatusChangingCodes[] = {
    code::kSetGainCoarse, code::kSetGainFine, code::kSetGainChannel, code::kSetGainWidth,
    code::kSetModePha, code::kSetModeMcs, code::kSetShaping, code::kSetHv, code::kSetLld, code::kSetUld,
    code::kSetPzadjust, code::kSetShutdown, code::kSetShutdownOff, code::kSetShutdownKelda,
    code::kSetShutdownTtl, code::kSetInputRoute, code::kSetGainConversion, code::kStart, code::kStop,
    code::kClear, code::kClearData, code::kClearAll, code::kClearCounter, code::kEnableGainStabilization,
    code::kDisableGainStabilization, code::kInitializeGainStabilization, code::kInitialize, code::kReset,
};

bool ChangesStatus(int32_t nCode) {
    for (int32_t n : kStatusChangingCodes) {
        if (n == nCode) return true;
    }
    return false;
}

uint16_t Arg16(const ParsedCommand& cmd, int32_t i) { return static_cast<uint16_t>(cmd.iArg[i]); }
bool Status(ZEPHCI& zeph, Answer& answer) { return zeph.CheckStatusData(answer.nMac, answer.nMic); }
int32_t FieldValue(const ZEPHCI& zeph, uint32_t nOffset) { return zeph.Status16(nOffset); }

uint32_t TrueTicks(const ZEPHCI& zeph) { return kTicksPerSecond * zeph.Status32(status::kTrueSeconds32); }
// The dead time is counted in milliseconds; 5/100 of it are 20 ms ticks.
uint32_t LiveTicks(const ZEPHCI& zeph) { return TrueTicks(zeph) - (5 * zeph.Status32(status::kDeadTimeMs32)) / 100; }

uint32_t StatusHvFlagWord(const ZEPHCI& zeph) {
    return HvFlagWord(FieldValue(zeph, status::kHvApplied) != 0, FieldValue(zeph, status::kHvPolarity) != 0);
}

// The region the status holds, first to last channel, as a 16-bit count.
uint16_t RegionWidth(const ZEPHCI& zeph) {
    return static_cast<uint16_t>(FieldValue(zeph, status::kRegionEnd) - FieldValue(zeph, status::kRegionStart) + 1);
}

bool SendStabilisation(ZEPHCI& zeph, uint16_t wPeak, uint16_t wFirst, uint16_t wLast, Answer& answer) {
    return zeph.SendFrame(frame::kStabilisation, wPeak, wFirst, wLast, answer.nMac, answer.nMic);
}

bool SendRegion(ZEPHCI& zeph, uint16_t wCentre, uint16_t wWidth, Answer& answer) {
    const uint16_t wFirst = static_cast<uint16_t>(wCentre - wWidth / 2);
    return SendStabilisation(zeph, wCentre, wFirst, static_cast<uint16_t>(wFirst + wWidth - 1), answer);
}

// ---- settings -----------------------------------------------------------------

bool DoNothing(ZEPHCI&, const Row&, const ParsedCommand&, Answer&) { return true; }

bool ResetWindowFromStatus(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer&) {
    int32_t nMac = 0;
    int32_t nMic = 0;
    zeph.CheckStatusData(nMac, nMic);  // a stale status still gives the last known gain
    zeph.ResetWindow(zeph.Status16(status::kConversionGain));
    return true;
}

bool SendFixed(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    return zeph.SendFrame(row.device.wFrame, row.device.wP1, 0, 0, answer.nMac, answer.nMic);
}

// One value in p1; the status field of the row takes it once accepted.
bool SendSetting(ZEPHCI& zeph, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    const uint16_t wValue = row.nValue == kFromArgument ? Arg16(cmd, 0) : row.device.wP1;
    if (!zeph.SendFrame(row.device.wFrame, wValue, 0, 0, answer.nMac, answer.nMic)) return false;
    if (row.device.nField != 0) zeph.SetStatus16(row.device.nField, wValue);
    return true;
}

bool SetAmplifier(ZEPHCI& zeph, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wCoarse = row.nValue == kCoarse ? Arg16(cmd, 0) : zeph.Status16(status::kCoarseGain);
    const uint16_t wFine = row.nValue == kFine ? Arg16(cmd, 0) : zeph.Status16(status::kFineGain);
    return zeph.SendFrame(frame::kAmplifier, wCoarse, wFine, 0, answer.nMac, answer.nMic);
}

// Time presets arrive in ticks and go out in whole seconds.
bool SetPresetCmd(ZEPHCI& zeph, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    const uint32_t nValue = row.nValue == kIntegral ? cmd.iArg[0] : cmd.iArg[0] / kTicksPerSecond;
    return zeph.SetPreset(nValue, static_cast<uint16_t>(row.nValue), answer.nMac, answer.nMic);
}

bool SetConversionGain(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    const uint16_t wGain = Arg16(cmd, 0);
    const uint16_t wUpper = static_cast<uint16_t>(wGain - wGain / 32 - 1);
    if (!zeph.SendFrame(frame::kConverter, wGain, 0, wUpper, answer.nMac, answer.nMic)) return false;
    zeph.ResetWindow(wGain);
    return true;
}

// The upper level stays below the converter's top 1/32.
uint16_t LevelLimit(const ZEPHCI& zeph) {
    const uint16_t wGain = zeph.Status16(status::kConversionGain);
    return static_cast<uint16_t>(wGain - wGain / 32 - 1);
}

bool SetLevel(ZEPHCI& zeph, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wValue = Arg16(cmd, 0);
    const uint16_t wLower = zeph.Status16(status::kLowerLevel);
    const uint16_t wUpper = zeph.Status16(status::kUpperLevel);
    if (wValue >= LevelLimit(zeph) || (row.nValue == kUpper && wValue <= wLower)) return Refuse(answer, kMicArgFirst);
    return zeph.SendFrame(frame::kConverter, zeph.Status16(status::kConversionGain),
                          row.nValue == kLower ? wValue : wLower, row.nValue == kUpper ? wValue : wUpper,
                          answer.nMac, answer.nMic);
}

bool SetShaping(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    uint16_t wSetting = 0;
    switch (cmd.iArg[0]) {
    case 0: case 200: wSetting = 1; break;
    case 1: case 600: wSetting = 3; break;
    default: return Refuse(answer, kMicArgFirst);
    }
    return zeph.SendFrame(frame::kShaping, wSetting, 0, 0, answer.nMac, answer.nMic);
}

bool SetInputRoute(ZEPHCI& zeph, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    if (cmd.iArg[0] == 1 || cmd.iArg[0] == 2) return Refuse(answer, kMicArgFirst);
    return SendSetting(zeph, row, cmd, answer);
}

bool SetPoleZero(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return zeph.SendFrame(frame::kPoleZero, 0, Arg16(cmd, 0), 0, answer.nMac, answer.nMic);
}

// The target is kept by the instrument; a supply that is on follows it at once.
bool SetHv(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wVolts = Arg16(cmd, 0);
    if (!zeph.WriteHvTarget(wVolts, answer.nMac, answer.nMic)) return false;
    if (zeph.Status16(status::kHvApplied) == 0) return true;
    return zeph.SendFrame(frame::kHighVoltage, wVolts, zeph.Status16(status::kShutdownMode), 0, answer.nMac,
                          answer.nMic);
}

int16_t ShutdownModeOf(const Row& row, const ParsedCommand& cmd) {
    if (row.nValue != kModeFromArgument) return static_cast<int16_t>(row.device.wP1);
    constexpr int16_t kByArgument[] = {kShutdownTtl, kShutdownKelda, kShutdownOff};
    return cmd.iArg[0] < 3 ? kByArgument[cmd.iArg[0]] : kShutdownOff;
}

bool SetShutdown(ZEPHCI& zeph, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wMode = static_cast<uint16_t>(ShutdownModeOf(row, cmd));
    uint16_t wVolts = 0;
    if (zeph.Status16(status::kHvApplied) != 0 && !zeph.ReadHvTarget(wVolts, answer.nMac, answer.nMic)) return false;
    return zeph.SendFrame(frame::kHighVoltage, wVolts, wMode, 0, answer.nMac, answer.nMic);
}

bool SwitchHv(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    uint16_t wVolts = 0;
    if (row.nValue == kOn && !zeph.ReadHvTarget(wVolts, answer.nMac, answer.nMic)) return false;
    if (!zeph.SendFrame(frame::kHighVoltage, wVolts, zeph.Status16(status::kShutdownMode), 0, answer.nMac,
                        answer.nMic)) {
        return false;
    }
    zeph.SetStatus16(status::kHvApplied, wVolts);
    return true;
}

// Stabilisation changes are refused while an acquisition runs. False when
// the command ends here, with bResult its result: false when the status
// could not be read, true (131/136) when the acquisition runs.
bool StatusWhileStopped(ZEPHCI& zeph, Answer& answer, bool& bResult) {
    bResult = Status(zeph, answer);
    if (!bResult) return false;
    if (!zeph.IsRunning()) return true;
    bResult = Refuse(answer, kMicNotWhileAcquiring);
    return false;
}

// A region around the channel, as wide as the present one within 5..250
// channels, narrowed so that it stays between the levels.
bool SetGainChannel(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    bool bResult = false;
    if (!StatusWhileStopped(zeph, answer, bResult)) return bResult;
    const int32_t nChannel = Arg16(cmd, 0);
    const int32_t nLower = FieldValue(zeph, status::kLowerLevel);
    const int32_t nUpper = FieldValue(zeph, status::kUpperLevel);
    if (nChannel <= nLower + kLevelMargin || nChannel >= nUpper - kLevelMargin) return Refuse(answer, kMicArgFirst);
    uint16_t wWidth = RegionWidth(zeph);
    if (wWidth < kMinRegionWidth) wWidth = kMinRegionWidth;
    if (wWidth > kMaxRegionWidth) wWidth = kMaxRegionWidth;
    if (nChannel + wWidth / 2 > nUpper) wWidth = static_cast<uint16_t>(2 * (nUpper - nChannel));
    if (nChannel - wWidth / 2 < nLower) wWidth = static_cast<uint16_t>(2 * (nChannel - nLower));
    return SendRegion(zeph, static_cast<uint16_t>(nChannel), wWidth, answer);
}

// The present region's centre keeps its place; the width changes.
bool SetGainWidth(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    bool bResult = false;
    if (!StatusWhileStopped(zeph, answer, bResult)) return bResult;
    const uint16_t wWidth = Arg16(cmd, 0);
    if (wWidth < kMinRegionWidth || wWidth > kMaxRegionWidth) return Refuse(answer, kMicArgFirst);
    const uint16_t wCentre = static_cast<uint16_t>(zeph.Status16(status::kRegionStart) + RegionWidth(zeph) / 2);
    return SendRegion(zeph, wCentre, wWidth, answer);
}

bool SwitchStabilisation(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    bool bResult = false;
    if (!StatusWhileStopped(zeph, answer, bResult)) return bResult;
    return SendStabilisation(zeph, row.device.wP1, zeph.Status16(status::kRegionStart),
                             zeph.Status16(status::kRegionEnd), answer);
}

// A region of one channel or of more than the instrument takes is left as it is.
bool InitializeStabilisation(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    bool bResult = false;
    if (!StatusWhileStopped(zeph, answer, bResult)) return bResult;
    const uint16_t wWidth = RegionWidth(zeph);
    if (wWidth <= 1 || wWidth > kMaxRegionWidth) return true;
    const uint16_t wFirst = zeph.Status16(status::kRegionStart);
    return SendStabilisation(zeph, static_cast<uint16_t>(wFirst + wWidth / 2), wFirst,
                             zeph.Status16(status::kRegionEnd), answer);
}

bool SetWindow(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    if (cmd.nArgs == 1) return Refuse(answer, kMicArgCount);
    if (cmd.nArgs == 0) {
        zeph.ResetWindow(kZephChannels);
        if (!Status(zeph, answer)) return false;
        zeph.m_nWindowLength = zeph.Status16(status::kConversionGain);
        return true;
    }
    const uint32_t nStart = cmd.iArg[0];
    const uint32_t nLength = cmd.iArg[1];
    if (static_cast<int64_t>(nStart) > static_cast<int64_t>(kZephChannels) - nLength) {
        return Refuse(answer, kMicArgSecond);
    }
    zeph.m_nWindowStart = nStart;
    zeph.m_nWindowLength = nLength;
    return true;
}

// The instrument's own mark of the region (0x49) is sent last; only the
// table decides what the ROIs are, so its outcome is not reported.
bool SetRoi(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wStart = Arg16(cmd, 0);
    const uint16_t wLength = Arg16(cmd, 1);
    if (wStart >= zeph.Status16(status::kUpperLevel)) return Refuse(answer, kMicArgFirst);
    const uint16_t wEnd = static_cast<uint16_t>(wStart + wLength - 1);
    if (wLength == 0 || wEnd >= kZephChannels) return Refuse(answer, kMicArgSecond);
    zeph.m_pCommonData->SetRoiFlags(wStart, wEnd, true);
    zeph.WriteRoiTable();
    zeph.m_pCommonData->bDataValid = 0;
    int32_t nMac = 0;
    int32_t nMic = 0;
    zeph.SendFrame(frame::kMarkRoi, wStart, wLength, 0, nMac, nMic);
    return true;
}

// ---- reports ------------------------------------------------------------------

bool ShowConstantA(ZEPHCI&, const Row& row, const ParsedCommand&, Answer& answer) {
    return Written(FormatA(answer.nSize, answer.pszBuf, *answer.pnLen, static_cast<uint32_t>(row.nValue)), answer);
}

bool ShowConstantC(ZEPHCI&, const Row& row, const ParsedCommand&, Answer& answer) {
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, static_cast<uint32_t>(row.nValue)), answer);
}

bool ShowText(ZEPHCI&, const Row& row, const ParsedCommand&, Answer& answer) {
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, row.pszText), answer);
}

bool ShowNoRemote(ZEPHCI&, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatI(answer.nSize, answer.pszBuf, *answer.pnLen, false), answer);
}

bool ShowField(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, zeph.Status16(row.device.nField)), answer);
}

// $D of two fields: the row's field and the one in its parameter.
bool ShowFieldPair(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, zeph.Status16(row.device.nField),
                           zeph.Status16(static_cast<uint32_t>(row.nValue))), answer);
}

bool ShowFieldFlag(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatI(answer.nSize, answer.pszBuf, *answer.pnLen, zeph.Status16(row.device.nField) != 0), answer);
}

bool ShowFieldName(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const int16_t nValue = static_cast<int16_t>(zeph.Status16(row.device.nField));
    const FieldNames& names = *row.device.pNames;
    const char* pszText = names.pszOther;
    for (int32_t i = 0; i < names.nEntries; ++i) {
        if (names.entries[i].nValue == nValue) pszText = names.entries[i].pszText;
    }
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, pszText), answer);
}

bool ShowElapsed(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint32_t nTicks = row.nValue == kLiveTime ? LiveTicks(zeph) : TrueTicks(zeph);
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen, nTicks), answer);
}

bool ShowStatus(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatM(answer.nSize, answer.pszBuf, *answer.pnLen, LiveTicks(zeph), TrueTicks(zeph),
                           zeph.IsRunning() ? 1u : 0u, StatusHvFlagWord(zeph)), answer);
}

bool ShowActive(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, zeph.IsRunning() ? 1u : 0u), answer);
}

// The preset the status holds when it is of the row's kind, else 0.
bool ShowPreset(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const int32_t nKind = FieldValue(zeph, status::kPresetKind);
    const uint64_t nValue = zeph.Status32(status::kPresetValue32);
    uint64_t nAnswer = 0;
    if (row.nValue == kIntegral) {
        nAnswer = (nKind == kIntegral || nKind == kIntegralAlso) ? nValue : 0;
    } else if (nKind == row.nValue) {
        nAnswer = nValue * kTicksPerSecond;
    }
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen,
                           nAnswer < 0xFFFFFFFFu ? static_cast<uint32_t>(nAnswer) : 0xFFFFFFFFu), answer);
}

// Date as day, month, year of the century; time as hour, minute, second;
// all 0 when the time has no local form.
bool ShowClock(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t dwDeviceTime = 0;
    if ((row.nValue & kAtStart) != 0) {
        if (!Status(zeph, answer)) return false;
        dwDeviceTime = zeph.Status32(status::kStartTime32);
    } else {
        dwDeviceTime = ZEPHCI::LocalNowAsDeviceTime();
    }
    std::tm local{};
    uint32_t nOut[3] = {0, 0, 0};
    if (ZEPHCI::DeviceTimeToLocal(dwDeviceTime, local)) {
        const bool bDate = (row.nValue & ~kAtStart) == kDate;
        const int nFields[3] = {bDate ? local.tm_mday : local.tm_hour, bDate ? local.tm_mon + 1 : local.tm_min,
                                bDate ? local.tm_year % 100 : local.tm_sec};
        for (int i = 0; i < 3; ++i) nOut[i] = static_cast<uint32_t>(nFields[i]);
    }
    return Written(FormatN(answer.nSize, answer.pszBuf, *answer.pnLen, nOut[0], nOut[1], nOut[2]), answer);
}

bool ShowShaping(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, FieldValue(zeph, status::kShaping) == 1 ? 0u : 1u),
                   answer);
}

double SumCounts(const ZephCommonData& common, uint32_t nFirst, uint32_t nLast) {
    double dSum = 0.0;
    for (uint32_t c = nFirst; c <= nLast && c < static_cast<uint32_t>(kZephChannels); ++c) {
        dSum += common.dwChannel[c] & ~kRoiFlag;
    }
    return dSum;
}

// Over every ROI, or over the range given.
bool ShowIntegral(ZEPHCI& zeph, const Row&, const ParsedCommand& cmd, Answer& answer) {
    if (cmd.nArgs == 1) return Refuse(answer, kMicArgCount);
    if (!zeph.CheckChannelData(answer.nMac, answer.nMic)) return false;
    const ZephCommonData& common = *zeph.m_pCommonData;
    double dSum = 0.0;
    if (cmd.nArgs == 2) {
        if (cmd.iArg[1] > 0) dSum = SumCounts(common, cmd.iArg[0], cmd.iArg[0] + cmd.iArg[1] - 1);
    } else {
        for (int32_t i = 0; i < common.nRoiCount && i < kZephRoiSlots; ++i) {
            dSum += SumCounts(common, common.wRoiStart[i], common.wRoiEnd[i]);
        }
    }
    const uint32_t nSum = dSum > 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(dSum);
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen, nSum), answer);
}

bool ShowWindow(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, zeph.m_nWindowStart, zeph.m_nWindowLength),
                   answer);
}

bool ShowVersion(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    char szText[16];
    std::snprintf(szText, sizeof szText, "ZEPH-%3.3X", zeph.Status16(status::kFirmware) & 0xFFFu);
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool ReadMeasurements(ZEPHCI& zeph, ZEPHCI::Reply& abReply, Answer& answer) {
    return zeph.QueryInstrument(frame::kMeasurements, 0, 0, 0, abReply, answer.nMac, answer.nMic);
}

bool ShowHv(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    ZEPHCI::Reply abReply;
    if (!Status(zeph, answer) || !ReadMeasurements(zeph, abReply, answer)) return false;
    // Through 64 bits: the largest measurement times 1.2 does not fit 32, and only the low 16 are shown.
    const uint32_t nVolts = static_cast<uint32_t>(static_cast<uint64_t>(ReplyU32(abReply, 30) * kHvPerMeasureUnit));
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, nVolts, StatusHvFlagWord(zeph)), answer);
}

bool ShowHvTarget(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    uint16_t wVolts = 0;
    if (!Status(zeph, answer) || !zeph.ReadHvTarget(wVolts, answer.nMac, answer.nMic)) return false;
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, wVolts, StatusHvFlagWord(zeph)), answer);
}

bool ShowConfiguration(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return AnswerConfiguration(answer, zeph.Status16(status::kConversionGain));
}

bool ShowConfigurationMask(ZEPHCI&, const Row&, const ParsedCommand&, Answer& answer) {
    return AnswerConfigurationMask(answer);
}

bool ShowUart(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    return AnswerUart(answer, zeph.m_nBaudRate);
}

bool ShowFeatures(ZEPHCI&, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatListUUUU(answer.nSize, answer.pszBuf, *answer.pnLen, "FEATURES", 27891823u, 1627963404u,
                                  1073742848u, 0u), answer);
}

bool ShowGainChannel(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const int32_t nStart = FieldValue(zeph, status::kRegionStart);
    const int32_t nCentre = nStart + (FieldValue(zeph, status::kRegionEnd) - nStart) / 2;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, static_cast<uint32_t>(nCentre)), answer);
}

bool ShowGainWidth(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, RegionWidth(zeph)), answer);
}

// Where the peak sits in its region, on a scale of 0 to 249; the middle
// when it lies outside.
bool ShowGainAdjustment(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const int32_t nPeak = FieldValue(zeph, status::kStabilisationPeak);
    const int32_t nStart = FieldValue(zeph, status::kRegionStart);
    const int32_t nEnd = FieldValue(zeph, status::kRegionEnd);
    uint32_t nPosition = kGainAdjustMiddle;
    if (nStart <= nPeak && nPeak <= nEnd) {
        const double dScale = 250.0 / (nEnd - nStart + 1);
        nPosition = static_cast<uint32_t>(static_cast<int64_t>((nPeak - nStart) * dScale)) & 0xFFFFu;
    }
    return Written(FormatListU(answer.nSize, answer.pszBuf, *answer.pnLen, "GAIN_ADJ", nPosition), answer);
}

bool ShowRoi(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (row.nValue != 0) zeph.m_nRoiCursor = 0;
    uint16_t wStart = 0;
    uint16_t wLength = 0;
    zeph.NextRoiRange(wStart, wLength);
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, wStart, wLength), answer);
}

bool ShowSerialNumber(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    char szText[16];
    std::snprintf(szText, sizeof szText, "%d", FieldValue(zeph, status::kSerialNumber));
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool ShowPoleZero(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatListD(answer.nSize, answer.pszBuf, *answer.pnLen, "PZ_ENA", FieldValue(zeph, status::kPoleZero)),
                   answer);
}

bool ShowCountRate(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatListU(answer.nSize, answer.pszBuf, *answer.pnLen, "CRM", zeph.Status32(status::kCountRate32)),
                   answer);
}

bool ShowPower(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, zeph.Status16(status::kPower) & 0xF0u), answer);
}

// The text is never cut: values too wide for the buffer are refused.
bool ShowBattery(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    ZEPHCI::Reply abReply;
    if (!ReadMeasurements(zeph, abReply, answer)) return false;
    uint32_t n[7];
    for (int i = 0; i < 7; ++i) n[i] = ReplyU32(abReply, kBatteryValues[i]);
    char szText[160];
    const int nLen = std::snprintf(szText, sizeof szText, "BATT 0 %15.15f %15.15f %u %u %u %u %u %u %u\n",
                                   ReplyU32(abReply, 26) * 0.001, ReplyU32(abReply, 30) * 0.001, n[0], n[1], n[2],
                                   n[3], n[4], n[5], n[6]);
    if (nLen < 0 || nLen >= static_cast<int>(sizeof szText)) return Refuse(answer, kMicBufferTooSmall);
    return CopyText(answer, szText, 0, 1);
}

// ---- acquisition, clearing, listings --------------------------------------------

// Running or at its preset: nothing to start. A stopped run (state 3)
// resumes; any other state starts anew.
bool Start(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wState = zeph.Status16(status::kState);
    if (wState == kZephRunning || wState == kZephPresetReached) return true;
    return zeph.SendStart(wState == kZephResumable ? 0 : 1, answer.nMac, answer.nMic);
}

bool Stop(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    if (!zeph.IsRunning()) return true;
    return zeph.SendFrame(frame::kStop, 0, 0, 0, answer.nMac, answer.nMic);
}

// While running, a restart dated now clears; otherwise data, then counters.
bool Clear(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    if (zeph.IsRunning()) return zeph.SendStart(1, answer.nMac, answer.nMic);
    int32_t nMac = 0;
    int32_t nMic = 0;
    zeph.SendFrame(frame::kClear, 0, 0, 0, nMac, nMic);
    return zeph.SendFrame(frame::kClear, 1, 0, 0, answer.nMac, answer.nMic);
}

// A running acquisition is restarted after the clear, dated now.
bool ClearAndRestart(ZEPHCI& zeph, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const bool bWasRunning = zeph.IsRunning();
    if (!zeph.SendFrame(frame::kClear, row.device.wP1, 0, 0, answer.nMac, answer.nMic)) return false;
    return bWasRunning ? zeph.SendStart(1, answer.nMac, answer.nMic) : true;
}

bool ClearRoi(ZEPHCI& zeph, const Row&, const ParsedCommand&, Answer& answer) {
    if (!Status(zeph, answer)) return false;
    const uint16_t wStart = static_cast<uint16_t>(zeph.m_nWindowStart);
    const uint16_t wEnd = static_cast<uint16_t>(zeph.m_nWindowStart + zeph.m_nWindowLength - 1);
    if (zeph.m_nWindowLength > 0 && wEnd >= wStart) zeph.m_pCommonData->SetRoiFlags(wStart, wEnd, false);
    zeph.WriteRoiTable();
    zeph.m_pCommonData->bDataValid = 0;
    return true;
}

bool ListText(ZEPHCI&, const Row& row, const ParsedCommand&, Answer& answer) {
    return CopyText(answer, row.pszText, 0, 1);
}

// ---- dispatch -------------------------------------------------------------------

constexpr ZephOp kNone{};
constexpr ZephOp Frame(uint16_t wFrame, uint16_t wP1 = 0, uint32_t nField = 0) { return {wFrame, wP1, nField, nullptr}; }
constexpr ZephOp Reports(uint32_t nField, const FieldNames* pNames = nullptr) { return {0, 0, nField, pNames}; }

const Row kActions[] = {
    // Table A (SET).
    {code::kSetDevice, ResetWindowFromStatus, kNone, nullptr, 0},
    {code::kSetSegment, ResetWindowFromStatus, kNone, nullptr, 0},
    {code::kSetGainCoarse, SetAmplifier, kNone, nullptr, kCoarse},
    {code::kSetGainFine, SetAmplifier, kNone, nullptr, kFine},
    {code::kSetLivePreset, SetPresetCmd, kNone, nullptr, kLiveTime},
    {code::kSetTruePreset, SetPresetCmd, kNone, nullptr, kTrueTime},
    {code::kSetIntegralPreset, SetPresetCmd, kNone, nullptr, kIntegral},
    {code::kSetGainChannel, SetGainChannel, kNone, nullptr, 0},  // SET_GAIN_ADJUSTMENT too
    {code::kSetGainPreset, DoNothing, kNone, nullptr, 0},
    {code::kSetGainWidth, SetGainWidth, kNone, nullptr, 0},
    {code::kSetModeGauss, DoNothing, kNone, nullptr, 0},
    {code::kSetModePoint, DoNothing, kNone, nullptr, 0},
    {code::kSetWindow, SetWindow, kNone, nullptr, 0},
    {code::kSetRoi, SetRoi, kNone, nullptr, 0},
    {code::kSetModePha, SendFixed, Frame(frame::kMode, 0), nullptr, 0},
    {code::kSetModeMcs, SendFixed, Frame(frame::kMode, 1), nullptr, 0},
    {code::kSetGainConversion, SetConversionGain, kNone, nullptr, 0},
    {code::kSetRadixBinary, DoNothing, kNone, nullptr, 0},
    {code::kSetDate, DoNothing, kNone, nullptr, 0},  // the instrument dates by the computer's clock
    {code::kSetTime, DoNothing, kNone, nullptr, 0},
    {code::kSetShaping, SetShaping, kNone, nullptr, 0},
    {code::kSetGainNegative, SendSetting, Frame(frame::kGainPolarity, 1, status::kGainPolarity), nullptr, 0},
    {code::kSetGainPositive, SendSetting, Frame(frame::kGainPolarity, 0, status::kGainPolarity), nullptr, 0},
    {code::kSetHvNegative, DoNothing, kNone, nullptr, 0},
    {code::kSetHvPositive, DoNothing, kNone, nullptr, 0},
    {code::kSetHv, SetHv, kNone, nullptr, 0},
    {code::kSetLld, SetLevel, kNone, nullptr, kLower},
    {code::kSetUld, SetLevel, kNone, nullptr, kUpper},
    {code::kSetWidthReject, DoNothing, kNone, nullptr, 0},
    {code::kSetPzadjust, SetPoleZero, kNone, nullptr, 0},
    {code::kSetShutdown, SetShutdown, kNone, nullptr, kModeFromArgument},
    {code::kSetShutdownOff, SetShutdown, Frame(0, static_cast<uint16_t>(kShutdownOff)), nullptr, 0},
    {code::kSetShutdownKelda, SetShutdown, Frame(0, static_cast<uint16_t>(kShutdownKelda)), nullptr, 0},
    {code::kSetShutdownTtl, SetShutdown, Frame(0, static_cast<uint16_t>(kShutdownTtl)), nullptr, 0},
    {code::kSetThreshold, SendSetting, Frame(frame::kThreshold, 0, status::kThreshold), nullptr, kFromArgument},
    {code::kSetInputRoute, SetInputRoute, Frame(frame::kInputRoute), nullptr, kFromArgument},
    // Table B (SHOW).
    {code::kShowLive, ShowElapsed, kNone, nullptr, kLiveTime},
    {code::kShowTrue, ShowElapsed, kNone, nullptr, kTrueTime},
    {code::kShowStatus, ShowStatus, kNone, nullptr, 0},
    {code::kShowDevice, ShowConstantA, kNone, nullptr, 1},
    {code::kShowSegment, ShowConstantA, kNone, nullptr, 1},
    {code::kShowActive, ShowActive, kNone, nullptr, 0},
    {code::kShowActiveDevices, ShowActive, kNone, nullptr, 0},
    {code::kShowGainStabilization, ShowFieldFlag, Reports(status::kStabilisationPeak), nullptr, 0},
    {code::kShowLivePreset, ShowPreset, kNone, nullptr, kLiveTime},
    {code::kShowTruePreset, ShowPreset, kNone, nullptr, kTrueTime},
    {code::kShowDateStart, ShowClock, kNone, nullptr, kDate | kAtStart},
    {code::kShowTimeStart, ShowClock, kNone, nullptr, kTime | kAtStart},
    {code::kShowShaping, ShowShaping, kNone, nullptr, 0},
    {code::kShowIntegral, ShowIntegral, kNone, nullptr, 0},
    {code::kShowIntegralPreset, ShowPreset, kNone, nullptr, kIntegral},
    {code::kShowWindow, ShowWindow, kNone, nullptr, 0},
    {code::kShowVersion, ShowVersion, kNone, nullptr, 0},
    {code::kShowHv, ShowHv, kNone, nullptr, 0},
    {code::kShowHvActual, ShowHv, kNone, nullptr, 0},
    {code::kShowHvTarget, ShowHvTarget, kNone, nullptr, 0},
    {code::kShowHvPolarity, ShowFieldName, Reports(status::kHvPolarity, &kHvPolarityNames), nullptr, 0},
    {code::kShowConfiguration, ShowConfiguration, kNone, nullptr, 0},
    {code::kShowGainCoarse, ShowField, Reports(status::kCoarseGain), nullptr, 0},
    {code::kShowGainFine, ShowField, Reports(status::kFineGain), nullptr, 0},
    {code::kShowGainConversion, ShowField, Reports(status::kConversionGain), nullptr, 0},
    {code::kShowGainPolarity, ShowFieldName, Reports(status::kGainPolarity, &kGainPolarityNames), nullptr, 0},
    {code::kShowGainPreset, ShowConstantC, kNone, nullptr, 0},
    {code::kShowGainChannel, ShowGainChannel, kNone, nullptr, 0},
    {code::kShowGainWidth, ShowGainWidth, kNone, nullptr, 0},
    {code::kShowGainAdjustment, ShowGainAdjustment, kNone, nullptr, 0},
    {code::kShowNext, ShowRoi, kNone, nullptr, 0},
    {code::kShowRoi, ShowRoi, kNone, nullptr, 1},  // from the first
    {code::kShowFeatures, ShowFeatures, kNone, nullptr, 0},
    {code::kShowRemote, ShowNoRemote, kNone, nullptr, 0},
    {code::kShowDate, ShowClock, kNone, nullptr, kDate},
    {code::kShowTime, ShowClock, kNone, nullptr, kTime},
    {code::kShowMode, ShowFieldName, Reports(status::kMode, &kModeNames), nullptr, 0},
    {code::kShowModeStabilization, ShowText, kNone, "POINT", 0},
    {code::kShowConfigurationUart, ShowUart, kNone, nullptr, 0},
    {code::kShowConfigurationMask, ShowConfigurationMask, kNone, nullptr, 0},
    {code::kShowSnum, ShowSerialNumber, kNone, nullptr, 0},
    {code::kShowRadix, ShowText, kNone, "BIN", 0},
    {code::kShowLld, ShowField, Reports(status::kLowerLevel), nullptr, 0},
    {code::kShowUld, ShowField, Reports(status::kUpperLevel), nullptr, 0},
    {code::kShowStatusBattery, ShowBattery, kNone, nullptr, 0},
    {code::kShowPur, ShowFieldFlag, Reports(status::kPileUp), nullptr, 0},
    {code::kShowWidthReject, ShowConstantC, kNone, nullptr, 0},
    {code::kShowPzadjust, ShowPoleZero, kNone, nullptr, 0},
    {code::kShowShutdown, ShowFieldName, Reports(status::kShutdownMode, &kShutdownNames), nullptr, 0},
    {code::kShowCrm, ShowCountRate, kNone, nullptr, 0},
    {code::kShowThreshold, ShowField, Reports(status::kThreshold), nullptr, 0},
    {code::kShowInputRoute, ShowFieldName, Reports(status::kInputRoute, &kInputRouteNames), nullptr, 0},
    {code::kShowDtc, ShowFieldPair, Reports(status::kDtcA), nullptr, status::kDtcB},
    {code::kShowDiscriminator, ShowFieldPair, Reports(status::kDiscriminatorA), nullptr, status::kDiscriminatorB},
    {code::kShowRevision, ShowFieldPair, Reports(status::kRevision), nullptr, status::kFirmware},
    {code::kShowPower, ShowPower, kNone, nullptr, 0},
    // Table C (the other verbs).
    {code::kStart, Start, kNone, nullptr, 0},
    {code::kStop, Stop, kNone, nullptr, 0},
    {code::kClear, Clear, kNone, nullptr, 0},
    {code::kClearData, ClearAndRestart, Frame(frame::kClear, 0), nullptr, 0},
    {code::kClearRoi, ClearRoi, kNone, nullptr, 0},
    {code::kClearPresets, SendFixed, Frame(frame::kPreset, 0), nullptr, 0},
    {code::kClearAll, ClearAndRestart, Frame(frame::kClear, 3), nullptr, 0},
    {code::kClearCounter, ClearAndRestart, Frame(frame::kClear, 1), nullptr, 0},
    {code::kComputer, DoNothing, kNone, nullptr, 0},
    {code::kEnableGainStabilization, SwitchStabilisation, Frame(frame::kStabilisation, 1), nullptr, 0},
    {code::kEnableHv, SwitchHv, kNone, nullptr, kOn},
    {code::kEnableRemote, DoNothing, kNone, nullptr, 0},
    {code::kEnablePur, SendSetting, Frame(frame::kPileUp, 1, status::kPileUp), nullptr, 0},
    {code::kDisableGainStabilization, SwitchStabilisation, Frame(frame::kStabilisation, 0), nullptr, 0},
    {code::kDisableHv, SwitchHv, kNone, nullptr, kOff},
    {code::kDisableRemote, DoNothing, kNone, nullptr, 0},
    {code::kDisablePur, SendSetting, Frame(frame::kPileUp, 0, status::kPileUp), nullptr, 0},
    {code::kListGainCoarse, ListText, kNone, "GAIN_COAR 2 5 10 20 50 100 200 500 1000\n", 0},
    {code::kListGainConversion, ListText, kNone, "GAIN_CONV 128 256 512 1024 2048 4096\n", 0},
    {code::kListGainFine, ListText, kNone, "GAIN_FINE 0.5 1.5 5000 15000\n", 0},
    {code::kListGainAdjustment, ListText, kNone, "GAIN_ADJ -100.0 100.0 0 249\n", 0},
    {code::kListShutdown, ListText, kNone, "SHUTDOWN TTL KELDA OFF\n", 0},
    {code::kInitializeGainStabilization, InitializeStabilisation, kNone, nullptr, 0},
    {code::kTerminal, DoNothing, kNone, nullptr, 0},
    {code::kReset, SendFixed, Frame(frame::kInitialise), nullptr, 0},
    {code::kInitialize, SendFixed, Frame(frame::kInitialise), nullptr, 0},
    {code::kResetRemote, DoNothing, kNone, nullptr, 0},
};

}  // namespace

bool ZEPHCI::HasAction(int32_t nCode) { return FindDispatchRow(kActions, nCode) != nullptr; }

bool ZEPHCI::ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp, int32_t* pnRespLen, int32_t* pnMac,
                     int32_t* pnMic) {
    // Without common data nothing the instrument reports can be kept: every
    // command fails as an exchange that could not be made.
    if (m_pCommonData == nullptr) {
        *pnMac = kMacNotSent;
        *pnMic = 0;
        return false;
    }
    const bool bServed = DispatchCommand(*this, kActions, "ZEPHCI", cmd, nRespSize, pszResp, pnRespLen, pnMac, pnMic);
    if (ChangesStatus(cmd.nCode)) m_pCommonData->bStatusValid = 0;
    return bServed;
}

}  // namespace linkbay
