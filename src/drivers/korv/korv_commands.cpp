// KORV command translation: each command code of the KORV command set becomes
// device exchanges and a response record. The dispatch table below names, per
// code, the kind of work and the device command or text it uses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cmdlang/numbers.h"
#include "cmdlang/records.h"
#include "cmdlang/result_codes.h"
#include "drivers/common/dispatch.h"
#include "drivers/common/identity_answers.h"
#include "drivers/korv/korv_tables.h"
#include "drivers/korv/korvci.h"
#include "serial/detector_profile.h"

namespace linkbay {
namespace {

namespace code = korv_code;
using Row = DispatchRow<KORVCI>;

constexpr uint32_t kNoPresetMinutes = 65535;
constexpr uint32_t kTicksPerSecond = 50;
constexpr uint32_t kTicksPerMinute = 3000;
constexpr uint32_t kPresetMinutesAbove = 3276750;  // 65535 s in ticks
constexpr uint32_t kActiveBits = 0x2000u | 0x1u | 0x2u;
constexpr int32_t kBatteryBufferMin = 40;

// Row parameters.
constexpr int32_t kLiveTime = 0;
constexpr int32_t kTrueTime = 1;
constexpr int32_t kDateFields = 0;   // month, day, year
constexpr int32_t kTimeFields = 3;   // hour, minute, second
constexpr int32_t kSetWhenZero = 8;  // ShowClock: an unset clock is set first
constexpr int32_t kRecordC = 'C';
constexpr int32_t kConstantA = 0x10000;  // ShowConstant: record kind above, value below
constexpr int32_t kConstantC = 0x20000;
constexpr int32_t kRecordMask = 0x30000;
constexpr int32_t kConstantMask = 0xFFFF;
constexpr int32_t kRecordG = 'G';
constexpr int32_t kPosWhenNonZero = 0;
constexpr int32_t kPosWhenNotNegative = 1;
constexpr int32_t kHvNegative = -1;
constexpr int32_t kHvPositive = 1;
constexpr int32_t kWithModeCommand = 1;
constexpr int32_t kAfterDataClear = 2;

const char kIntPresetKey[] = "KRIntPreset";

// ---- settings ---------------------------------------------------------------

bool DoNothing(KORVCI& korv, const Row&, const ParsedCommand&, Answer&) { return true; }

bool SendFixed(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    return korv.QueryCmd(row.device, answer.nMac, answer.nMic);
}

bool SendArgument(KORVCI& korv, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    return korv.QueryCmdFormatted(row.device, static_cast<int32_t>(cmd.iArg[0]), answer.nMac, answer.nMic);
}

bool ResetWindowCmd(KORVCI& korv, const Row&, const ParsedCommand&, Answer&) {
    korv.ResetWindow();
    return true;
}

bool SetTimePreset(KORVCI& korv, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    KorvCommonData& common = *korv.m_pCommonData;
    // Only the value's exchange decides the result; the mode and unit
    // exchanges before it are reported through the value's.
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (korv.QueryCmd(row.device, nMac, nMic)) common.nPresetMode = static_cast<uint32_t>(row.nValue);
    const uint32_t nTicks = cmd.iArg[0];
    uint32_t nBase = 0;
    uint32_t nValue = 0;
    if (nTicks == 0) {
        nBase = 1;
        nValue = kNoPresetMinutes;
    } else if (nTicks > kPresetMinutesAbove) {
        nBase = 1;
        nValue = (nTicks + kTicksPerMinute / 2) / kTicksPerMinute;
    } else {
        nValue = (nTicks + kTicksPerSecond / 2) / kTicksPerSecond;
    }
    korv.QueryCmdFormatted("02 %d\r", static_cast<int32_t>(nBase), nMac, nMic);
    common.nPresetTimeBase = nBase;
    common.nPresetValue = nValue;
    common.bPresetsKnown = 1;
    return korv.QueryCmdFormatted("01 %d\r", static_cast<int32_t>(nValue), answer.nMac, answer.nMic);
}

// The integral preset is kept in DETHUB.INI, which gives it back to the
// instrument after a reset; one the file did not take is answered as an error,
// though the instrument has it now.
bool StoreIntegralPreset(KORVCI& korv, uint32_t nPreset, bool bSent, Answer& answer) {
    char szValue[16];
    std::snprintf(szValue, sizeof szValue, "%u", nPreset);
    const bool bStored = WriteDetectorProfileString(korv.m_nMCB, kServedDetector, kIntPresetKey, szValue);
    return bSent && answer.nMac == 0 && !bStored ? Refuse(answer, kMicNotStored) : bSent;
}

bool SetIntegralPreset(KORVCI& korv, const Row&, const ParsedCommand& cmd, Answer& answer) {
    korv.LoadRoiTable();
    korv.m_pCommonData->nIntegralPreset = cmd.iArg[0];
    const bool bOk = korv.SendIntegralPresets(cmd.iArg[0], answer.nMac, answer.nMic);
    return StoreIntegralPreset(korv, cmd.iArg[0], bOk, answer);
}

bool SetWindow(KORVCI& korv, const Row&, const ParsedCommand& cmd, Answer& answer) {
    if (cmd.nArgs == 0) {
        korv.ResetWindow();
        return true;
    }
    if (cmd.nArgs == 1) return Refuse(answer, kMicArgCount);
    const uint32_t nStart = cmd.iArg[0];
    const uint32_t nLength = cmd.iArg[1];
    if (static_cast<int64_t>(nStart) > static_cast<int64_t>(kKorvChannels) - nLength) {
        return Refuse(answer, kMicArgSecond);
    }
    korv.m_nWindowStart = nStart;
    korv.m_nWindowLength = nLength;
    return true;
}

bool SetRoi(KORVCI& korv, const Row&, const ParsedCommand& cmd, Answer& answer) {
    const uint32_t nStart = cmd.iArg[0];
    const uint32_t nLength = cmd.iArg[1];
    if (nStart >= korv.m_pCommonData->nConversionGain) return Refuse(answer, kMicArgFirst);
    const uint16_t wEnd = static_cast<uint16_t>(nStart + nLength - 1);
    if (nLength == 0 || wEnd >= kKorvChannels) return Refuse(answer, kMicArgSecond);
    korv.m_pCommonData->SetRoiFlags(nStart, wEnd, true);
    int32_t nMac = 0;
    int32_t nMic = 0;
    korv.WriteRoiTable(nMac, nMic);
    korv.m_pCommonData->bDataValid = 0;
    return true;
}

bool SetConversionGain(KORVCI& korv, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    const uint32_t nGain = cmd.iArg[0];
    if (!korv.QueryCmdFormatted(row.device, static_cast<int32_t>(nGain), answer.nMac, answer.nMic)) return false;
    korv.m_pCommonData->nConversionGain = nGain;
    korv.ResetWindow();
    return true;
}

// SET_DATE takes day, month, year; the clock holds month, day, year.
bool SetClock(KORVCI& korv, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    int32_t nFields[6];
    if (!korv.ReadClock(row.device, nFields, answer.nMac, answer.nMic)) return false;
    const int32_t a0 = static_cast<int32_t>(cmd.iArg[0]);
    const int32_t a1 = static_cast<int32_t>(cmd.iArg[1]);
    const int32_t a2 = static_cast<int32_t>(cmd.iArg[2]);
    if (row.nValue == kDateFields) {
        nFields[0] = a1;
        nFields[1] = a0;
        nFields[2] = a2;
    } else {
        nFields[3] = a0;
        nFields[4] = a1;
        nFields[5] = a2;
    }
    return korv.WriteClock(nFields, answer.nMac, answer.nMic);
}

bool SetShaping(KORVCI& korv, const Row& row, const ParsedCommand& cmd, Answer& answer) {
    int32_t nSetting = 0;
    switch (cmd.iArg[0]) {
    case 0: case 200: nSetting = 0; break;
    case 1: case 600: nSetting = 1; break;
    default: return Refuse(answer, kMicArgFirst);
    }
    return korv.QueryCmdFormatted(row.device, nSetting, answer.nMac, answer.nMic);
}

// The setpoint's sign is the polarity: flip it only when it points the other way.
bool SetHvPolarity(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    int32_t nTarget = 0;
    if (!korv.QuerySignedInt(row.device, nTarget, answer.nMac, answer.nMic)) return false;
    const bool bWrongSign = row.nValue == kHvNegative ? nTarget > 0 : nTarget < 0;
    if (!bWrongSign) return true;
    return korv.QueryCmdFormatted("05 %d\r", -nTarget, answer.nMac, answer.nMic);
}

// ---- reports ----------------------------------------------------------------

bool ShowElapsed(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t nTrue = 0;
    uint32_t nLive = 0;
    if (!korv.QueryElapsedTimes(nTrue, nLive, answer.nMac, answer.nMic)) return false;
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen,
                           row.nValue == kLiveTime ? nLive : nTrue), answer);
}

uint32_t Magnitude(int32_t n) {
    return n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
}

bool ShowStatus(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    uint32_t nTrue = 0;
    uint32_t nLive = 0;
    uint32_t dwStatus = 0;
    int32_t nVoltage = 0;
    int32_t nOnOff = 0;
    if (!korv.QueryElapsedTimes(nTrue, nLive, answer.nMac, answer.nMic) ||
        !korv.QueryInt("67\r", dwStatus, answer.nMac, answer.nMic) ||
        !korv.QuerySignedInt("64\r", nVoltage, answer.nMac, answer.nMic) ||
        !korv.QuerySignedInt("4f\r", nOnOff, answer.nMac, answer.nMic)) {
        return false;
    }
    const uint32_t nActive = (dwStatus & kActiveBits) != 0 ? 1 : 0;
    return Written(FormatM(answer.nSize, answer.pszBuf, *answer.pnLen, nLive, nTrue, nActive,
                           HvFlagWord(nOnOff != 0, nVoltage < 0)), answer);
}

bool ShowConstant(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    const uint32_t nValue = static_cast<uint32_t>(row.nValue & kConstantMask);
    const bool bWritten = (row.nValue & kRecordMask) == kConstantC
                              ? FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, nValue)
                              : FormatA(answer.nSize, answer.pszBuf, *answer.pnLen, nValue);
    return Written(bWritten, answer);
}

bool ShowActive(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t dwStatus = 0;
    if (!korv.QueryInt(row.device, dwStatus, answer.nMac, answer.nMic)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, (dwStatus & kActiveBits) != 0 ? 1 : 0),
                   answer);
}

bool ShowPreset(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    if (!korv.ReadPresetState(answer.nMac, answer.nMic)) return false;
    const KorvCommonData& common = *korv.m_pCommonData;
    uint64_t nTicks = 0;  // a preset value beyond any real one must not wrap to a small one
    if (common.nPresetMode != static_cast<uint32_t>(row.nValue)) {
        nTicks = 0;
    } else if (common.nPresetTimeBase == 0) {
        nTicks = static_cast<uint64_t>(common.nPresetValue) * kTicksPerSecond;
    } else if (common.nPresetValue != kNoPresetMinutes) {
        nTicks = static_cast<uint64_t>(common.nPresetValue) * kTicksPerMinute;
    }
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen,
                           nTicks < 0xFFFFFFFFu ? static_cast<uint32_t>(nTicks) : 0xFFFFFFFFu), answer);
}

bool ShowClock(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    int32_t nFields[6];
    if (!korv.ReadClock(row.device, nFields, answer.nMac, answer.nMic)) return false;
    const bool bUnset = nFields[0] == 0 && nFields[1] == 0 && nFields[2] == 0 && nFields[3] == 0 &&
                        nFields[4] == 0 && nFields[5] == 0;
    if ((row.nValue & kSetWhenZero) != 0 && bUnset) {
        const std::time_t now = static_cast<std::time_t>(UnixSecondsNow());
        const std::tm* pUtc = std::gmtime(&now);
        if (pUtc != nullptr) {
            const int32_t nNow[6] = {pUtc->tm_mon + 1, pUtc->tm_mday, pUtc->tm_year % 100,
                                     pUtc->tm_hour,   pUtc->tm_min,  pUtc->tm_sec};
            std::memcpy(nFields, nNow, sizeof nFields);
            int32_t nMac = 0;
            int32_t nMic = 0;
            korv.WriteClock(nFields, nMac, nMic);
        }
    }
    uint32_t nOut[3];
    if ((row.nValue & ~kSetWhenZero) == kDateFields) {
        nOut[0] = static_cast<uint32_t>(nFields[1]);  // day
        nOut[1] = static_cast<uint32_t>(nFields[0]);  // month
        nOut[2] = static_cast<uint32_t>(nFields[2]);
    } else {
        for (int i = 0; i < 3; ++i) nOut[i] = static_cast<uint32_t>(nFields[kTimeFields + i]);
    }
    return Written(FormatN(answer.nSize, answer.pszBuf, *answer.pnLen, nOut[0], nOut[1], nOut[2]), answer);
}

bool ShowValue(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t nValue = 0;
    if (!korv.QueryInt(row.device, nValue, answer.nMac, answer.nMic)) return false;
    const bool bWritten = row.nValue == kRecordG ? FormatG(answer.nSize, answer.pszBuf, *answer.pnLen, nValue)
                                                 : FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, nValue);
    return Written(bWritten, answer);
}

bool ShowIntegralPreset(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    korv.LoadRoiTable();
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen, korv.m_pCommonData->nIntegralPreset), answer);
}

bool ShowWindow(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, korv.m_nWindowStart, korv.m_nWindowLength), answer);
}

bool ShowVersion(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    double dVersion = 0.0;
    if (!korv.QueryDouble(row.device, dVersion, answer.nMac, answer.nMic)) return false;
    // Out-of-range versions are clamped so the conversions stay defined.
    if (!(dVersion > -1e6 && dVersion < 1e6)) dVersion = 0.0;
    const int32_t nMajor = static_cast<int32_t>(dVersion);
    const int32_t nMinor = static_cast<int32_t>((dVersion - nMajor) * 1000.0);
    char szText[32];
    std::snprintf(szText, sizeof szText, "KORV-%1.1d%2.2d", nMajor, nMinor);
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool ShowHv(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    int32_t nVoltage = 0;
    int32_t nOnOff = 0;
    if (!korv.QuerySignedInt(row.device, nVoltage, answer.nMac, answer.nMic) ||
        !korv.QuerySignedInt("4f\r", nOnOff, answer.nMac, answer.nMic)) {
        return false;
    }
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, Magnitude(nVoltage),
                           HvFlagWord(nOnOff != 0, nVoltage < 0)), answer);
}

bool ShowPolarity(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    int32_t nValue = 0;
    if (!korv.QuerySignedInt(row.device, nValue, answer.nMac, answer.nMic)) return false;
    const bool bPositive = row.nValue == kPosWhenNotNegative ? nValue >= 0 : nValue != 0;
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, bPositive ? "POS" : "NEG"), answer);
}

bool ShowConfiguration(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    return AnswerConfiguration(answer, korv.m_pCommonData->nConversionGain);
}

bool ShowConversionGain(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, korv.m_pCommonData->nConversionGain), answer);
}

bool ShowRoi(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    if (row.nValue != 0) korv.m_nRoiCursor = 0;
    uint16_t wStart = 0;
    uint16_t wLength = 0;
    korv.NextRoiRange(wStart, wLength);
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, wStart, wLength), answer);
}

bool ShowFeatures(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatListUUUU(answer.nSize, answer.pszBuf, *answer.pnLen, "FEATURES", 27858983u,
                                  1091338252u, 1073774592u, 0u), answer);
}

bool ShowConfMask(KORVCI&, const Row&, const ParsedCommand&, Answer& answer) { return AnswerConfigurationMask(answer); }

bool ShowBlre(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    return Written(FormatListU(answer.nSize, answer.pszBuf, *answer.pnLen, "BLRE", 0u), answer);
}

bool ShowText(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, row.pszText), answer);
}

bool ShowUart(KORVCI& korv, const Row&, const ParsedCommand&, Answer& answer) {
    return AnswerUart(answer, korv.m_nBaudRate);
}

bool ShowSerialNumber(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t nValue = 0;
    if (!korv.QueryInt(row.device, nValue, answer.nMac, answer.nMic)) return false;
    char szText[16];
    std::snprintf(szText, sizeof szText, "%u", nValue);
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

// The text is cut nowhere: a voltage too wide for the buffer is refused.
bool ShowBattery(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    double dVolts = 0.0;
    if (!korv.QueryDouble(row.device, dVolts, answer.nMac, answer.nMic)) return false;
    char szText[64];
    const int nLen = std::snprintf(szText, sizeof szText, "BATT 0 %15.15f 0.0000\n", dVolts);
    if (nLen < 0 || nLen >= static_cast<int>(sizeof szText)) return Refuse(answer, kMicBufferTooSmall);
    return CopyText(answer, szText, kBatteryBufferMin, 0);
}

bool ShowFlag(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t nValue = 0;
    if (!korv.QueryInt(row.device, nValue, answer.nMac, answer.nMic)) return false;
    return Written(FormatI(answer.nSize, answer.pszBuf, *answer.pnLen, nValue != 0), answer);
}

// ---- acquisition, clearing, listings -----------------------------------------

bool StartAcquisition(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    uint32_t nTrue = 0;
    uint32_t nLive = 0;
    if (!korv.QueryElapsedTimes(nTrue, nLive, answer.nMac, answer.nMic)) return false;
    const KorvCommonData& common = *korv.m_pCommonData;
    const bool bNoPreset = common.nPresetTimeBase == 1 && common.nPresetValue == kNoPresetMinutes;
    if (!bNoPreset) {
        const uint64_t nLimit = static_cast<uint64_t>(common.nPresetValue) *
                                (common.nPresetTimeBase == 1 ? kTicksPerMinute : kTicksPerSecond);
        const uint32_t nCounted = common.nPresetMode == 0 ? nLive : nTrue;
        if (nCounted >= nLimit) {
            answer.nMac = 0;
            answer.nMic = kMicPresetReached;
            return true;
        }
    }
    return korv.QueryCmd(row.device, answer.nMac, answer.nMic);
}

bool ClearRoi(KORVCI& korv, const Row&, const ParsedCommand&, Answer&) {
    const uint16_t wStart = static_cast<uint16_t>(korv.m_nWindowStart);
    const uint16_t wEnd = static_cast<uint16_t>(korv.m_nWindowStart + korv.m_nWindowLength - 1);
    if (wEnd >= wStart) korv.m_pCommonData->SetRoiFlags(wStart, wEnd, false);
    int32_t nMac = 0;
    int32_t nMic = 0;
    korv.WriteRoiTable(nMac, nMic);
    korv.m_pCommonData->bDataValid = 0;
    return true;
}

// CLEAR_ALL clears the data first and keeps the preset mode; CLEAR_PRESETS
// returns the instrument to live-time presets. A failing set-up exchange
// stops the sequence; the integral presets are then cleared as far as they go.
bool ClearPresets(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    KorvCommonData& common = *korv.m_pCommonData;
    if (row.nValue == kAfterDataClear && !korv.QueryCmd(row.device, answer.nMac, answer.nMic)) return false;
    korv.LoadRoiTable();
    if (row.nValue == kWithModeCommand) {
        if (!korv.QueryCmd("10 0\r", answer.nMac, answer.nMic)) return false;
        common.nPresetMode = 0;
    }
    if (!korv.QueryCmd("02 1\r", answer.nMac, answer.nMic)) return false;
    common.nPresetTimeBase = 1;
    const bool bValueSent = korv.QueryCmdFormatted("01 %d\r", static_cast<int32_t>(kNoPresetMinutes), answer.nMac,
                                              answer.nMic);
    common.nPresetValue = kNoPresetMinutes;
    common.bPresetsKnown = 1;
    common.nIntegralPreset = 0;
    if (!bValueSent) return false;
    const bool bOk = korv.SendIntegralPresets(0, answer.nMac, answer.nMic);
    return StoreIntegralPreset(korv, 0, bOk, answer);
}

bool ListText(KORVCI& korv, const Row& row, const ParsedCommand&, Answer& answer) {
    return CopyText(answer, row.pszText, 0, 1);
}

bool Initialize(KORVCI& korv, const Row&, const ParsedCommand&, Answer&) {
    korv.RestoreDeviceState();
    korv.m_pCommonData->bDataValid = 0;
    korv.m_pCommonData->bRoiTableValid = 0;
    return true;
}

// ---- dispatch -------------------------------------------------------------------

const Row kActions[] = {
    // Table A (SET).
    {code::kSetDevice, ResetWindowCmd, nullptr, nullptr, 0},
    {code::kSetSegment, ResetWindowCmd, nullptr, nullptr, 0},
    {code::kSetGainCoarse, SendArgument, "06 %d\r", nullptr, 0},
    {code::kSetGainFine, SendArgument, "07 %d\r", nullptr, 0},
    {code::kSetLivePreset, SetTimePreset, "10 0\r", nullptr, kLiveTime},
    {code::kSetTruePreset, SetTimePreset, "10 1\r", nullptr, kTrueTime},
    {code::kSetIntegralPreset, SetIntegralPreset, nullptr, nullptr, 0},
    {code::kSetWindow, SetWindow, nullptr, nullptr, 0},
    {code::kSetRoi, SetRoi, nullptr, nullptr, 0},
    {code::kSetModePha, DoNothing, nullptr, nullptr, 0},
    {code::kSetGainConversion, SetConversionGain, "03 %d\r", nullptr, 0},
    {code::kSetRadixBinary, DoNothing, nullptr, nullptr, 0},
    {code::kSetDate, SetClock, "5f\r", nullptr, kDateFields},
    {code::kSetTime, SetClock, "5f\r", nullptr, kTimeFields},
    {code::kSetShaping, SetShaping, "0F %d\r", nullptr, 0},
    {code::kSetGainNegative, SendFixed, "08 0\r", nullptr, 0},
    {code::kSetGainPositive, SendFixed, "08 1\r", nullptr, 0},
    {code::kSetHvNegative, SetHvPolarity, "35\r", nullptr, kHvNegative},
    {code::kSetHvPositive, SetHvPolarity, "35\r", nullptr, kHvPositive},
    {code::kSetHv, SendArgument, "05 %d\r", nullptr, 0},  // magnitude only
    {code::kSetLld, SendArgument, "09 %d\r", nullptr, 0},
    {code::kSetUld, SendArgument, "0A %d\r", nullptr, 0},
    {code::kSetBlre, DoNothing, nullptr, nullptr, 0},
    {code::kSetWidthReject, DoNothing, nullptr, nullptr, 0},
    // Table B (SHOW).
    {code::kShowLive, ShowElapsed, nullptr, nullptr, kLiveTime},
    {code::kShowTrue, ShowElapsed, nullptr, nullptr, kTrueTime},
    {code::kShowStatus, ShowStatus, nullptr, nullptr, 0},
    {code::kShowDevice, ShowConstant, nullptr, nullptr, kConstantA | 1},
    {code::kShowSegment, ShowConstant, nullptr, nullptr, kConstantA | 1},
    {code::kShowActive, ShowActive, "67\r", nullptr, 0},
    {code::kShowActiveDevices, ShowActive, "67\r", nullptr, 0},
    {code::kShowLivePreset, ShowPreset, nullptr, nullptr, kLiveTime},
    {code::kShowTruePreset, ShowPreset, nullptr, nullptr, kTrueTime},
    {code::kShowDateStart, ShowClock, "79\r", nullptr, kDateFields},
    {code::kShowTimeStart, ShowClock, "79\r", nullptr, kTimeFields},
    {code::kShowShaping, ShowValue, "3F\r", nullptr, kRecordC},
    {code::kShowIntegral, ShowValue, "80\r", nullptr, kRecordG},
    {code::kShowIntegralPreset, ShowIntegralPreset, nullptr, nullptr, 0},
    {code::kShowWindow, ShowWindow, nullptr, nullptr, 0},
    {code::kShowVersion, ShowVersion, "71\r", nullptr, 0},
    {code::kShowHv, ShowHv, "64\r", nullptr, 0},
    {code::kShowHvActual, ShowHv, "64\r", nullptr, 0},
    {code::kShowHvTarget, ShowHv, "35\r", nullptr, 0},
    {code::kShowHvPolarity, ShowPolarity, "35\r", nullptr, kPosWhenNotNegative},
    {code::kShowConfiguration, ShowConfiguration, nullptr, nullptr, 0},
    {code::kShowGainCoarse, ShowValue, "36\r", nullptr, kRecordC},
    {code::kShowGainFine, ShowValue, "37\r", nullptr, kRecordC},
    {code::kShowGainConversion, ShowConversionGain, nullptr, nullptr, 0},
    {code::kShowGainPolarity, ShowPolarity, "38\r", nullptr, kPosWhenNonZero},
    {code::kShowNext, ShowRoi, nullptr, nullptr, 0},
    {code::kShowRoi, ShowRoi, nullptr, nullptr, 1},  // from the first
    {code::kShowFeatures, ShowFeatures, nullptr, nullptr, 0},
    {code::kShowDate, ShowClock, "5f\r", nullptr, kDateFields | kSetWhenZero},
    {code::kShowTime, ShowClock, "5f\r", nullptr, kTimeFields | kSetWhenZero},
    {code::kShowMode, ShowText, nullptr, "PHA", 0},
    {code::kShowConfigurationUart, ShowUart, nullptr, nullptr, 0},
    {code::kShowConfigurationMask, ShowConfMask, nullptr, nullptr, 0},
    {code::kShowSnum, ShowSerialNumber, "6B\r", nullptr, 0},
    {code::kShowRadix, ShowText, nullptr, "BIN", 0},
    {code::kShowLld, ShowValue, "39\r", nullptr, kRecordC},
    {code::kShowUld, ShowValue, "3A\r", nullptr, kRecordC},
    {code::kShowStatusBattery, ShowBattery, "63\r", nullptr, 0},
    {code::kShowBlre, ShowBlre, nullptr, nullptr, 0},
    {code::kShowBlreAutomatic, ShowFlag, "3c\r", nullptr, 0},
    {code::kShowPur, ShowFlag, "3d\r", nullptr, 0},
    {code::kShowWidthReject, ShowConstant, nullptr, nullptr, kConstantC | 0},
    // Table C (the other verbs).
    {code::kStart, StartAcquisition, "92 0\r", nullptr, 0},
    {code::kStop, SendFixed, "93\r", nullptr, 0},
    {code::kClear, SendFixed, "a0\r", nullptr, 0},
    {code::kClearData, SendFixed, "a0\r", nullptr, 0},
    {code::kClearRoi, ClearRoi, nullptr, nullptr, 0},
    {code::kClearPresets, ClearPresets, nullptr, nullptr, kWithModeCommand},
    {code::kClearAll, ClearPresets, "a0\r", nullptr, kAfterDataClear},
    {code::kClearCounter, SendFixed, "a0\r", nullptr, 0},
    {code::kComputer, DoNothing, nullptr, nullptr, 0},
    {code::kEnableHv, SendFixed, "1F 1\r", nullptr, 0},
    {code::kEnablePur, SendFixed, "0d 1\r", nullptr, 0},
    {code::kEnableBlreAutomatic, SendFixed, "0c 1\r", nullptr, 0},
    {code::kDisableHv, SendFixed, "1F 0\r", nullptr, 0},
    {code::kDisablePur, SendFixed, "0d 0\r", nullptr, 0},
    {code::kDisableBlreAutomatic, SendFixed, "0c 0\r", nullptr, 0},
    {code::kListGainCoarse, ListText, nullptr, "GAIN_COAR 1 2 4 8 16 32 64\n", 0},
    {code::kListGainConversion, ListText, nullptr, "GAIN_CONV 256 512 1024 2048 4096\n", 0},
    {code::kListGainFine, ListText, nullptr, "GAIN_FINE 0.0 1.0 0 4095\n", 0},
    {code::kReset, Initialize, nullptr, nullptr, 0},
    {code::kInitialize, Initialize, nullptr, nullptr, 0},
};

}  // namespace

bool KORVCI::HasAction(int32_t nCode) { return FindDispatchRow(kActions, nCode) != nullptr; }

bool KORVCI::ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp, int32_t* pnRespLen,
                     int32_t* pnMac, int32_t* pnMic) {
    // Without common data nothing the instrument reports can be kept: every
    // command fails as an exchange that could not be made.
    if (m_pCommonData == nullptr) {
        *pnMac = kMacNotSent;
        *pnMic = 0;
        return false;
    }
    return DispatchCommand(*this, kActions, "KORVCI", cmd, nRespSize, pszResp, pnRespLen, pnMac, pnMic);
}

}  // namespace linkbay
