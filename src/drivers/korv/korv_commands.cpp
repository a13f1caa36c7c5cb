// KORV command translation: each command code of the KORV command set becomes
// device exchanges and a response record. The dispatch table below names, per
// code, the kind of work and the device command or text it uses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cmdlang/numbers.h"
#include "cmdlang/records.h"
#include "drivers/korv/korvci.h"
#include "serial/detector_profile.h"

namespace linkbay {

struct KORVCI::Action {
    int32_t nCode;
    bool (KORVCI::*pfnRun)(const Action& row, const ParsedCommand& cmd, Answer& answer);
    const char* pszDevice;  // the device command the row sends or reads
    const char* pszText;    // fixed answer text, where the row has one
    int32_t nValue;         // the row's parameter (mode, field group, constant)
};

namespace {

constexpr int32_t kMicArgValue = kMicArgRangeBase;        // first argument rejected
constexpr int32_t kMicArgSecond = kMicArgRangeBase + 1;  // second argument (or the pair) rejected
constexpr int32_t kMicBufferTooSmall = 134;
constexpr int32_t kMicPresetReached = 2;

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
const char kClockFormat[] = "2f %02d %02d %02d %02d %02d %02d\r";

}  // namespace

using K = KORVCI;

const KORVCI::Action KORVCI::s_actions[] = {
    // Table A (SET).
    {23, &K::ResetWindowCmd, nullptr, nullptr, 0},  // SET_DEVICE
    {41, &K::ResetWindowCmd, nullptr, nullptr, 0},  // SET_SEGMENT
    {24, &K::SendArgument, "06 %d\r", nullptr, 0},  // SET_GAIN_COARSE
    {26, &K::SendArgument, "07 %d\r", nullptr, 0},  // SET_GAIN_FINE
    {35, &K::SetTimePreset, "10 0\r", nullptr, kLiveTime},
    {46, &K::SetTimePreset, "10 1\r", nullptr, kTrueTime},
    {33, &K::SetIntegralPreset, nullptr, nullptr, 0},
    {49, &K::SetWindow, nullptr, nullptr, 0},
    {40, &K::SetRoi, nullptr, nullptr, 0},
    {37, &K::DoNothing, nullptr, nullptr, 0},  // SET_MODE_PHA
    {25, &K::SetConversionGain, "03 %d\r", nullptr, 0},
    {39, &K::DoNothing, nullptr, nullptr, 0},  // SET_RADIX_BINARY
    {22, &K::SetClock, "5f\r", nullptr, kDateFields},
    {43, &K::SetClock, "5f\r", nullptr, kTimeFields},
    {42, &K::SetShaping, "0F %d\r", nullptr, 0},
    {27, &K::SendFixed, "08 0\r", nullptr, 0},  // SET_GAIN_NEGATIVE
    {28, &K::SendFixed, "08 1\r", nullptr, 0},  // SET_GAIN_POSITIVE
    {31, &K::SetHvPolarity, "35\r", nullptr, kHvNegative},
    {32, &K::SetHvPolarity, "35\r", nullptr, kHvPositive},
    {30, &K::SendArgument, "05 %d\r", nullptr, 0},  // SET_HV: magnitude only
    {36, &K::SendArgument, "09 %d\r", nullptr, 0},  // SET_LLD
    {47, &K::SendArgument, "0A %d\r", nullptr, 0},  // SET_ULD
    {21, &K::DoNothing, nullptr, nullptr, 0},       // SET_BLRE
    {48, &K::DoNothing, nullptr, nullptr, 0},       // SET_WIDTH_REJECT
    // Table B (SHOW).
    {71, &K::ShowElapsed, nullptr, nullptr, kLiveTime},
    {88, &K::ShowElapsed, nullptr, nullptr, kTrueTime},
    {84, &K::ShowStatus, nullptr, nullptr, 0},
    {59, &K::ShowConstant, nullptr, nullptr, kConstantA | 1},  // SHOW_DEVICE
    {81, &K::ShowConstant, nullptr, nullptr, kConstantA | 1},  // SHOW_SEGMENT
    {50, &K::ShowActive, "67\r", nullptr, 0},
    {51, &K::ShowActive, "67\r", nullptr, 0},
    {72, &K::ShowPreset, nullptr, nullptr, kLiveTime},
    {89, &K::ShowPreset, nullptr, nullptr, kTrueTime},
    {58, &K::ShowClock, "79\r", nullptr, kDateFields},
    {87, &K::ShowClock, "79\r", nullptr, kTimeFields},
    {82, &K::ShowValue, "3F\r", nullptr, kRecordC},  // SHOW_SHAPING
    {69, &K::ShowValue, "80\r", nullptr, kRecordG},  // SHOW_INTEGRAL
    {70, &K::ShowIntegralPreset, nullptr, nullptr, 0},
    {93, &K::ShowWindow, nullptr, nullptr, 0},
    {91, &K::ShowVersion, "71\r", nullptr, 0},
    {65, &K::ShowHv, "64\r", nullptr, 0},  // SHOW_HV
    {66, &K::ShowHv, "64\r", nullptr, 0},  // SHOW_HV_ACTUAL
    {68, &K::ShowHv, "35\r", nullptr, 0},  // SHOW_HV_TARGET
    {67, &K::ShowPolarity, "35\r", nullptr, kPosWhenNotNegative},  // SHOW_HV_POLARITY
    {54, &K::ShowConfiguration, nullptr, nullptr, 0},
    {61, &K::ShowValue, "36\r", nullptr, kRecordC},  // SHOW_GAIN_COARSE
    {63, &K::ShowValue, "37\r", nullptr, kRecordC},  // SHOW_GAIN_FINE
    {62, &K::ShowConversionGain, nullptr, nullptr, 0},
    {64, &K::ShowPolarity, "38\r", nullptr, kPosWhenNonZero},  // SHOW_GAIN_POLARITY
    {75, &K::ShowRoi, nullptr, nullptr, 0},  // SHOW_NEXT
    {80, &K::ShowRoi, nullptr, nullptr, 1},  // SHOW_ROI: from the first
    {60, &K::ShowFeatures, nullptr, nullptr, 0},
    {57, &K::ShowClock, "5f\r", nullptr, kDateFields | kSetWhenZero},
    {86, &K::ShowClock, "5f\r", nullptr, kTimeFields | kSetWhenZero},
    {74, &K::ShowText, nullptr, "PHA", 0},  // SHOW_MODE
    {56, &K::ShowUart, nullptr, nullptr, 0},
    {55, &K::ShowConfMask, nullptr, nullptr, 0},
    {83, &K::ShowSerialNumber, "6B\r", nullptr, 0},
    {78, &K::ShowText, nullptr, "BIN", 0},  // SHOW_RADIX
    {73, &K::ShowValue, "39\r", nullptr, kRecordC},  // SHOW_LLD
    {90, &K::ShowValue, "3A\r", nullptr, kRecordC},  // SHOW_ULD
    {85, &K::ShowBattery, "63\r", nullptr, 0},
    {52, &K::ShowBlre, nullptr, nullptr, 0},
    {53, &K::ShowFlag, "3c\r", nullptr, 0},  // SHOW_BLRE_AUTOMATIC
    {77, &K::ShowFlag, "3d\r", nullptr, 0},  // SHOW_PUR
    {92, &K::ShowConstant, nullptr, nullptr, kConstantC | 0},  // SHOW_WIDTH_REJECT
    // Table C (the other verbs).
    {94, &K::StartAcquisition, "92 0\r", nullptr, 0},
    {95, &K::SendFixed, "93\r", nullptr, 0},  // STOP
    {1, &K::SendFixed, "a0\r", nullptr, 0},   // CLEAR
    {4, &K::SendFixed, "a0\r", nullptr, 0},   // CLEAR_DATA
    {6, &K::ClearRoi, nullptr, nullptr, 0},
    {5, &K::ClearPresets, nullptr, nullptr, kWithModeCommand},
    {2, &K::ClearPresets, "a0\r", nullptr, kAfterDataClear},  // CLEAR_ALL
    {3, &K::SendFixed, "a0\r", nullptr, 0},  // CLEAR_COUNTER
    {7, &K::DoNothing, nullptr, nullptr, 0},  // COMPUTER
    {13, &K::SendFixed, "1F 1\r", nullptr, 0},  // ENABLE_HV
    {14, &K::SendFixed, "0d 1\r", nullptr, 0},  // ENABLE_PUR
    {12, &K::SendFixed, "0c 1\r", nullptr, 0},  // ENABLE_BLRE_AUTOMATIC
    {9, &K::SendFixed, "1F 0\r", nullptr, 0},   // DISABLE_HV
    {10, &K::SendFixed, "0d 0\r", nullptr, 0},  // DISABLE_PUR
    {8, &K::SendFixed, "0c 0\r", nullptr, 0},   // DISABLE_BLRE_AUTOMATIC
    {16, &K::ListText, nullptr, "GAIN_COAR 1 2 4 8 16 32 64\n", 0},
    {17, &K::ListText, nullptr, "GAIN_CONV 256 512 1024 2048 4096\n", 0},
    {18, &K::ListText, nullptr, "GAIN_FINE 0.0 1.0 0 4095\n", 0},
    {19, &K::Initialize, nullptr, nullptr, 0},  // RESET
    {11, &K::Initialize, nullptr, nullptr, 0},  // INITIALIZE
};

const int32_t KORVCI::s_nActions = static_cast<int32_t>(sizeof s_actions / sizeof s_actions[0]);

const KORVCI::Action* KORVCI::FindAction(int32_t nCode) {
    for (int32_t i = 0; i < s_nActions; ++i) {
        if (s_actions[i].nCode == nCode) return &s_actions[i];
    }
    return nullptr;
}

bool KORVCI::ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp, int32_t* pnRespLen,
                     int32_t* pnMac, int32_t* pnMic) {
    // Without common data nothing the instrument reports can be kept: every
    // command fails as an exchange that could not be made.
    if (m_pCommonData == nullptr) {
        *pnMac = -3;
        *pnMic = 0;
        return false;
    }
    const Action* pRow = FindAction(cmd.nCode);
    if (pRow == nullptr) {
        DebugPrint(1, "KORVCI::ExecCmd(): Command not found: %d\n", cmd.nCode);
        *pnMac = kMacCommandError;
        *pnMic = kMicNoCommand;
        return true;
    }
    Answer answer{nRespSize, pszResp, pnRespLen, *pnMac, *pnMic};
    return (this->*(pRow->pfnRun))(*pRow, cmd, answer);
}

// A record writer's refusal means the caller's buffer was too small.
bool KORVCI::Written(bool bWritten, Answer& answer) {
    if (!bWritten) {
        answer.nMac = kMacCommandError;
        answer.nMic = kMicBufferTooSmall;
    }
    return true;
}

namespace {

bool Refuse(KORVCI::Answer& answer, int32_t nMic) {
    answer.nMac = kMacCommandError;
    answer.nMic = nMic;
    return true;
}

// A plain text answer with its NUL; nLenExtra is added to its length.
bool CopyText(KORVCI::Answer& answer, const char* pszText, int32_t nMinSize, int32_t nLenExtra) {
    const int32_t nLen = static_cast<int32_t>(std::strlen(pszText));
    if (answer.nSize < nLen + 1 || answer.nSize < nMinSize) return Refuse(answer, kMicBufferTooSmall);
    std::memcpy(answer.pszBuf, pszText, static_cast<size_t>(nLen) + 1);
    *answer.pnLen = nLen + nLenExtra;
    return true;
}

}  // namespace

// ---- settings ---------------------------------------------------------------

bool KORVCI::DoNothing(const Action&, const ParsedCommand&, Answer&) { return true; }

bool KORVCI::SendFixed(const Action& row, const ParsedCommand&, Answer& answer) {
    return QueryCmd(row.pszDevice, answer.nMac, answer.nMic);
}

bool KORVCI::SendArgument(const Action& row, const ParsedCommand& cmd, Answer& answer) {
    return QueryCmdFormatted(row.pszDevice, static_cast<int32_t>(cmd.iArg[0]), answer.nMac, answer.nMic);
}

bool KORVCI::ResetWindowCmd(const Action&, const ParsedCommand&, Answer&) {
    ResetWindow();
    return true;
}

bool KORVCI::SetTimePreset(const Action& row, const ParsedCommand& cmd, Answer& answer) {
    KorvCommonData& common = *m_pCommonData;
    // Only the value's exchange decides the result; the mode and unit
    // exchanges before it are reported through the value's.
    int32_t nMac = 0;
    int32_t nMic = 0;
    if (QueryCmd(row.pszDevice, nMac, nMic)) common.nPresetMode = static_cast<uint32_t>(row.nValue);
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
    QueryCmdFormatted("02 %d\r", static_cast<int32_t>(nBase), nMac, nMic);
    common.nPresetTimeBase = nBase;
    common.nPresetValue = nValue;
    common.bPresetsKnown = 1;
    return QueryCmdFormatted("01 %d\r", static_cast<int32_t>(nValue), answer.nMac, answer.nMic);
}

bool KORVCI::SetIntegralPreset(const Action&, const ParsedCommand& cmd, Answer& answer) {
    LoadRoiTable();
    m_pCommonData->nIntegralPreset = cmd.iArg[0];
    const bool bOk = SendIntegralPresets(cmd.iArg[0], answer.nMac, answer.nMic);
    char szValue[16];
    std::snprintf(szValue, sizeof szValue, "%u", cmd.iArg[0]);
    WriteDetectorProfileString(m_nMCB, kServedDetector, kIntPresetKey, szValue);
    return bOk;
}

bool KORVCI::SetWindow(const Action&, const ParsedCommand& cmd, Answer& answer) {
    if (cmd.nArgs == 0) {
        ResetWindow();
        return true;
    }
    if (cmd.nArgs == 1) return Refuse(answer, kMicArgCount);
    const uint32_t nStart = cmd.iArg[0];
    const uint32_t nLength = cmd.iArg[1];
    if (static_cast<int64_t>(nStart) > static_cast<int64_t>(kKorvChannels) - nLength) {
        return Refuse(answer, kMicArgSecond);
    }
    m_nWindowStart = nStart;
    m_nWindowLength = nLength;
    return true;
}

bool KORVCI::SetRoi(const Action&, const ParsedCommand& cmd, Answer& answer) {
    const uint32_t nStart = cmd.iArg[0];
    const uint32_t nLength = cmd.iArg[1];
    if (nStart >= m_pCommonData->nConversionGain) return Refuse(answer, kMicArgValue);
    const uint16_t wEnd = static_cast<uint16_t>(nStart + nLength - 1);
    if (nLength == 0 || wEnd >= kKorvChannels) return Refuse(answer, kMicArgSecond);
    SetRoiFlags(nStart, wEnd, true);
    int32_t nMac = 0;
    int32_t nMic = 0;
    WriteRoiTable(nMac, nMic);
    m_pCommonData->bDataValid = 0;
    return true;
}

bool KORVCI::SetConversionGain(const Action& row, const ParsedCommand& cmd, Answer& answer) {
    const uint32_t nGain = cmd.iArg[0];
    if (!QueryCmdFormatted(row.pszDevice, static_cast<int32_t>(nGain), answer.nMac, answer.nMic)) return false;
    m_pCommonData->nConversionGain = nGain;
    ResetWindow();
    return true;
}

// SET_DATE takes day, month, year; the clock holds month, day, year.
bool KORVCI::SetClock(const Action& row, const ParsedCommand& cmd, Answer& answer) {
    int32_t nFields[6];
    if (!ReadClock(row.pszDevice, nFields, answer.nMac, answer.nMic)) return false;
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
    return WriteClock(nFields, answer.nMac, answer.nMic);
}

bool KORVCI::ReadClock(const char* pszCmd, int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic) {
    char szReply[32];
    for (int32_t& n : nFields) n = 0;
    if (!QueryInstrument(pszCmd, szReply, sizeof szReply, nMac, nMic)) return false;
    const char* p = szReply + 3;
    for (int32_t& n : nFields) n = ToSigned32(p, &p);
    return true;
}

bool KORVCI::WriteClock(const int32_t (&nFields)[6], int32_t& nMac, int32_t& nMic) {
    char szCmd[48];
    std::snprintf(szCmd, sizeof szCmd, kClockFormat, nFields[0], nFields[1], nFields[2], nFields[3],
                  nFields[4], nFields[5]);
    return QueryCmd(szCmd, nMac, nMic);
}

bool KORVCI::SetShaping(const Action& row, const ParsedCommand& cmd, Answer& answer) {
    int32_t nSetting = 0;
    switch (cmd.iArg[0]) {
    case 0: case 200: nSetting = 0; break;
    case 1: case 600: nSetting = 1; break;
    default: return Refuse(answer, kMicArgValue);
    }
    return QueryCmdFormatted(row.pszDevice, nSetting, answer.nMac, answer.nMic);
}

// The setpoint's sign is the polarity: flip it only when it points the other way.
bool KORVCI::SetHvPolarity(const Action& row, const ParsedCommand&, Answer& answer) {
    int32_t nTarget = 0;
    if (!QuerySignedInt(row.pszDevice, nTarget, answer.nMac, answer.nMic)) return false;
    const bool bWrongSign = row.nValue == kHvNegative ? nTarget > 0 : nTarget < 0;
    if (!bWrongSign) return true;
    return QueryCmdFormatted("05 %d\r", -nTarget, answer.nMac, answer.nMic);
}

// ---- reports ----------------------------------------------------------------

bool KORVCI::ShowElapsed(const Action& row, const ParsedCommand&, Answer& answer) {
    uint32_t nTrue = 0;
    uint32_t nLive = 0;
    if (!QueryElapsedTimes(nTrue, nLive, answer.nMac, answer.nMic)) return false;
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen,
                           row.nValue == kLiveTime ? nLive : nTrue), answer);
}

namespace {

// 2, or 6 with the supply on; plus 1 for a negative voltage.
uint32_t HvFlagWord(int32_t nVoltage, int32_t nOnOff) {
    return (nOnOff != 0 ? 6u : 2u) + (nVoltage < 0 ? 1u : 0u);
}

uint32_t Magnitude(int32_t n) {
    return n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
}

}  // namespace

bool KORVCI::ShowStatus(const Action&, const ParsedCommand&, Answer& answer) {
    uint32_t nTrue = 0;
    uint32_t nLive = 0;
    uint32_t dwStatus = 0;
    int32_t nVoltage = 0;
    int32_t nOnOff = 0;
    if (!QueryElapsedTimes(nTrue, nLive, answer.nMac, answer.nMic) ||
        !QueryInt("67\r", dwStatus, answer.nMac, answer.nMic) ||
        !QuerySignedInt("64\r", nVoltage, answer.nMac, answer.nMic) ||
        !QuerySignedInt("4f\r", nOnOff, answer.nMac, answer.nMic)) {
        return false;
    }
    const uint32_t nActive = (dwStatus & kActiveBits) != 0 ? 1 : 0;
    return Written(FormatM(answer.nSize, answer.pszBuf, *answer.pnLen, nLive, nTrue, nActive,
                           HvFlagWord(nVoltage, nOnOff)), answer);
}

bool KORVCI::ShowConstant(const Action& row, const ParsedCommand&, Answer& answer) {
    const uint32_t nValue = static_cast<uint32_t>(row.nValue & kConstantMask);
    const bool bWritten = (row.nValue & kRecordMask) == kConstantC
                              ? FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, nValue)
                              : FormatA(answer.nSize, answer.pszBuf, *answer.pnLen, nValue);
    return Written(bWritten, answer);
}

bool KORVCI::ShowActive(const Action& row, const ParsedCommand&, Answer& answer) {
    uint32_t dwStatus = 0;
    if (!QueryInt(row.pszDevice, dwStatus, answer.nMac, answer.nMic)) return false;
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, (dwStatus & kActiveBits) != 0 ? 1 : 0),
                   answer);
}

bool KORVCI::ShowPreset(const Action& row, const ParsedCommand&, Answer& answer) {
    if (!ReadPresetState(answer.nMac, answer.nMic)) return false;
    const KorvCommonData& common = *m_pCommonData;
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

bool KORVCI::ShowClock(const Action& row, const ParsedCommand&, Answer& answer) {
    int32_t nFields[6];
    if (!ReadClock(row.pszDevice, nFields, answer.nMac, answer.nMic)) return false;
    const bool bUnset = nFields[0] == 0 && nFields[1] == 0 && nFields[2] == 0 && nFields[3] == 0 &&
                        nFields[4] == 0 && nFields[5] == 0;
    if ((row.nValue & kSetWhenZero) != 0 && bUnset) {
        const std::time_t now = std::time(nullptr);
        const std::tm* pUtc = std::gmtime(&now);
        if (pUtc != nullptr) {
            const int32_t nNow[6] = {pUtc->tm_mon + 1, pUtc->tm_mday, pUtc->tm_year % 100,
                                     pUtc->tm_hour,   pUtc->tm_min,  pUtc->tm_sec};
            std::memcpy(nFields, nNow, sizeof nFields);
            int32_t nMac = 0;
            int32_t nMic = 0;
            WriteClock(nFields, nMac, nMic);
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

bool KORVCI::ShowValue(const Action& row, const ParsedCommand&, Answer& answer) {
    uint32_t nValue = 0;
    if (!QueryInt(row.pszDevice, nValue, answer.nMac, answer.nMic)) return false;
    const bool bWritten = row.nValue == kRecordG ? FormatG(answer.nSize, answer.pszBuf, *answer.pnLen, nValue)
                                                 : FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, nValue);
    return Written(bWritten, answer);
}

bool KORVCI::ShowIntegralPreset(const Action&, const ParsedCommand&, Answer& answer) {
    LoadRoiTable();
    return Written(FormatG(answer.nSize, answer.pszBuf, *answer.pnLen, m_pCommonData->nIntegralPreset), answer);
}

bool KORVCI::ShowWindow(const Action&, const ParsedCommand&, Answer& answer) {
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, m_nWindowStart, m_nWindowLength), answer);
}

bool KORVCI::ShowVersion(const Action& row, const ParsedCommand&, Answer& answer) {
    double dVersion = 0.0;
    if (!QueryDouble(row.pszDevice, dVersion, answer.nMac, answer.nMic)) return false;
    // Out-of-range versions are clamped so the conversions stay defined.
    if (!(dVersion > -1e6 && dVersion < 1e6)) dVersion = 0.0;
    const int32_t nMajor = static_cast<int32_t>(dVersion);
    const int32_t nMinor = static_cast<int32_t>((dVersion - nMajor) * 1000.0);
    char szText[32];
    std::snprintf(szText, sizeof szText, "KORV-%1.1d%2.2d", nMajor, nMinor);
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool KORVCI::ShowHv(const Action& row, const ParsedCommand&, Answer& answer) {
    int32_t nVoltage = 0;
    int32_t nOnOff = 0;
    if (!QuerySignedInt(row.pszDevice, nVoltage, answer.nMac, answer.nMic) ||
        !QuerySignedInt("4f\r", nOnOff, answer.nMac, answer.nMic)) {
        return false;
    }
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, Magnitude(nVoltage),
                           HvFlagWord(nVoltage, nOnOff)), answer);
}

bool KORVCI::ShowPolarity(const Action& row, const ParsedCommand&, Answer& answer) {
    int32_t nValue = 0;
    if (!QuerySignedInt(row.pszDevice, nValue, answer.nMac, answer.nMic)) return false;
    const bool bPositive = row.nValue == kPosWhenNotNegative ? nValue >= 0 : nValue != 0;
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, bPositive ? "POS" : "NEG"), answer);
}

bool KORVCI::ShowConfiguration(const Action&, const ParsedCommand&, Answer& answer) {
    char szText[128];
    std::snprintf(szText, sizeof szText, "0409600001%5.5u%s%s", m_pCommonData->nConversionGain & 0xFFFFu,
                  "0000000000000000000000000000000000000000", "00000000000000000000000000000000000");
    return Written(FormatJ(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool KORVCI::ShowConversionGain(const Action&, const ParsedCommand&, Answer& answer) {
    return Written(FormatC(answer.nSize, answer.pszBuf, *answer.pnLen, m_pCommonData->nConversionGain), answer);
}

bool KORVCI::ShowRoi(const Action& row, const ParsedCommand&, Answer& answer) {
    if (row.nValue != 0) m_nRoiCursor = 0;
    uint16_t wStart = 0;
    uint16_t wLength = 0;
    NextRoiRange(wStart, wLength);
    return Written(FormatD(answer.nSize, answer.pszBuf, *answer.pnLen, wStart, wLength), answer);
}

bool KORVCI::ShowFeatures(const Action&, const ParsedCommand&, Answer& answer) {
    return Written(FormatListUUUU(answer.nSize, answer.pszBuf, *answer.pnLen, "FEATURES", 27858983u,
                                  1091338252u, 1073774592u, 0u), answer);
}

bool KORVCI::ShowConfMask(const Action&, const ParsedCommand&, Answer& answer) {
    return Written(FormatListUU(answer.nSize, answer.pszBuf, *answer.pnLen, "CONF_MASK", 2147483647u,
                                2147483648u), answer);
}

bool KORVCI::ShowBlre(const Action&, const ParsedCommand&, Answer& answer) {
    return Written(FormatListU(answer.nSize, answer.pszBuf, *answer.pnLen, "BLRE", 0u), answer);
}

bool KORVCI::ShowText(const Action& row, const ParsedCommand&, Answer& answer) {
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, row.pszText), answer);
}

bool KORVCI::ShowUart(const Action&, const ParsedCommand&, Answer& answer) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%6.6dN81", static_cast<int32_t>(m_nBaudRate));
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

bool KORVCI::ShowSerialNumber(const Action& row, const ParsedCommand&, Answer& answer) {
    uint32_t nValue = 0;
    if (!QueryInt(row.pszDevice, nValue, answer.nMac, answer.nMic)) return false;
    char szText[16];
    std::snprintf(szText, sizeof szText, "%u", nValue);
    return Written(FormatF(answer.nSize, answer.pszBuf, *answer.pnLen, szText), answer);
}

// The text is cut nowhere: a voltage too wide for the buffer is refused.
bool KORVCI::ShowBattery(const Action& row, const ParsedCommand&, Answer& answer) {
    double dVolts = 0.0;
    if (!QueryDouble(row.pszDevice, dVolts, answer.nMac, answer.nMic)) return false;
    char szText[64];
    const int nLen = std::snprintf(szText, sizeof szText, "BATT 0 %15.15f 0.0000\n", dVolts);
    if (nLen < 0 || nLen >= static_cast<int>(sizeof szText)) return Refuse(answer, kMicBufferTooSmall);
    return CopyText(answer, szText, kBatteryBufferMin, 0);
}

bool KORVCI::ShowFlag(const Action& row, const ParsedCommand&, Answer& answer) {
    uint32_t nValue = 0;
    if (!QueryInt(row.pszDevice, nValue, answer.nMac, answer.nMic)) return false;
    return Written(FormatI(answer.nSize, answer.pszBuf, *answer.pnLen, nValue != 0), answer);
}

// ---- acquisition, clearing, listings -----------------------------------------

bool KORVCI::StartAcquisition(const Action& row, const ParsedCommand&, Answer& answer) {
    uint32_t nTrue = 0;
    uint32_t nLive = 0;
    if (!QueryElapsedTimes(nTrue, nLive, answer.nMac, answer.nMic)) return false;
    const KorvCommonData& common = *m_pCommonData;
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
    return QueryCmd(row.pszDevice, answer.nMac, answer.nMic);
}

bool KORVCI::ClearRoi(const Action&, const ParsedCommand&, Answer&) {
    const uint16_t wStart = static_cast<uint16_t>(m_nWindowStart);
    const uint16_t wEnd = static_cast<uint16_t>(m_nWindowStart + m_nWindowLength - 1);
    if (wEnd >= wStart) SetRoiFlags(wStart, wEnd, false);
    int32_t nMac = 0;
    int32_t nMic = 0;
    WriteRoiTable(nMac, nMic);
    m_pCommonData->bDataValid = 0;
    return true;
}

// CLEAR_ALL clears the data first and keeps the preset mode; CLEAR_PRESETS
// returns the instrument to live-time presets. A failing set-up exchange
// stops the sequence; the integral presets are then cleared as far as they go.
bool KORVCI::ClearPresets(const Action& row, const ParsedCommand&, Answer& answer) {
    KorvCommonData& common = *m_pCommonData;
    if (row.nValue == kAfterDataClear && !QueryCmd(row.pszDevice, answer.nMac, answer.nMic)) return false;
    LoadRoiTable();
    if (row.nValue == kWithModeCommand) {
        if (!QueryCmd("10 0\r", answer.nMac, answer.nMic)) return false;
        common.nPresetMode = 0;
    }
    if (!QueryCmd("02 1\r", answer.nMac, answer.nMic)) return false;
    common.nPresetTimeBase = 1;
    const bool bValueSent = QueryCmdFormatted("01 %d\r", static_cast<int32_t>(kNoPresetMinutes), answer.nMac,
                                              answer.nMic);
    common.nPresetValue = kNoPresetMinutes;
    common.bPresetsKnown = 1;
    common.nIntegralPreset = 0;
    if (!bValueSent) return false;
    const bool bOk = SendIntegralPresets(0, answer.nMac, answer.nMic);
    WriteDetectorProfileString(m_nMCB, kServedDetector, kIntPresetKey, "0");
    return bOk;
}

bool KORVCI::ListText(const Action& row, const ParsedCommand&, Answer& answer) {
    return CopyText(answer, row.pszText, 0, 1);
}

bool KORVCI::Initialize(const Action&, const ParsedCommand&, Answer&) {
    RestoreDeviceState();
    m_pCommonData->bDataValid = 0;
    m_pCommonData->bRoiTableValid = 0;
    return true;
}

}  // namespace linkbay
