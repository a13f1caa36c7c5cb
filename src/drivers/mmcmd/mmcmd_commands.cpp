// Numbered-command translation: most commands go to the instrument as the
// command of the same number, with their arguments as words, single-precision
// values or texts, and their answer comes back as words or a text; a few
// carry logic of their own. The dispatch table names, per code, the
// exchange and the record of the answer.
#include <cstring>

#include "cmdlang/records.h"
#include "cmdlang/result_codes.h"
#include "drivers/mmcmd/mmcmd_handlers.h"
#include "drivers/mmcmd/mmcmd_tables.h"
#include "serial/debug_output.h"

namespace linkbay {
namespace mmcmd {
namespace {

namespace code = mmcmd_code;

constexpr uint32_t kClearWholeMemory = 32768;  // CLEAR's second word: every channel
constexpr uint32_t kTextSize = 128;            // the longest text read (126 bytes) and its NUL

// Record kinds of a row's answer.
constexpr int32_t kRecordA = 'A';
constexpr int32_t kRecordC = 'C';
constexpr int32_t kRecordG = 'G';
constexpr int32_t kRecordI = 'I';
constexpr int32_t kRecordJ = 'J';
constexpr int32_t kRecordF = 'F';

// A number the parser read, truncated toward zero as a signed 32-bit value.
uint32_t SignedWord(double d) {
    if (!(d > -2147483648.0)) return 0x80000000u;
    if (d >= 2147483647.0) return 0x7FFFFFFFu;
    return static_cast<uint32_t>(static_cast<int32_t>(d));
}
// The argument, or the row's default when the command came without it.
uint32_t ArgOr(const ParsedCommand& cmd, int32_t nIndex, const Row& row) {
    return cmd.nArgs > nIndex ? cmd.iArg[nIndex] : static_cast<uint32_t>(row.device);
}

bool WriteNumber(Answer& a, int32_t nRecord, uint32_t dwValue) {
    switch (nRecord) {
    case kRecordA: return FormatA(a.nSize, a.pszBuf, *a.pnLen, dwValue);
    case kRecordC: return FormatC(a.nSize, a.pszBuf, *a.pnLen, dwValue);
    case kRecordI: return FormatI(a.nSize, a.pszBuf, *a.pnLen, dwValue != 0);
    default: return FormatG(a.nSize, a.pszBuf, *a.pnLen, dwValue);
    }
}

bool WriteText(Answer& a, int32_t nRecord, const char* pszText) {
    return nRecord == kRecordJ ? FormatJ(a.nSize, a.pszBuf, *a.pnLen, pszText)
                               : FormatF(a.nSize, a.pszBuf, *a.pnLen, pszText);
}

// ---- settings and actions ---------------------------------------------------------

bool Ack(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAck(Command(cmd), &a.nMac, &a.nMic);
}

bool AckInt(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckInt(Command(cmd), ArgOr(cmd, 0, row), &a.nMac, &a.nMic);
}

bool AckSignedInt(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckInt(Command(cmd), SignedWord(cmd.dArg[0]), &a.nMac, &a.nMic);
}

bool AckInt2(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckInt2(Command(cmd), cmd.iArg[0], cmd.iArg[1], &a.nMac, &a.nMic);
}

bool AckInt3(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckInt3(Command(cmd), cmd.iArg[0], cmd.iArg[1], cmd.iArg[2], &a.nMac, &a.nMic);
}

// CLEAR, CLEAR_ALL and CLEAR_DATA clear the whole memory whatever was asked.
bool AckClearAll(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckInt2(Command(cmd), 0, kClearWholeMemory, &a.nMac, &a.nMic);
}

bool AckFloat(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckFloat(Command(cmd), cmd.dArg[0], &a.nMac, &a.nMic);
}

bool AckFloatInt(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckFloatInt(Command(cmd), cmd.dArg[0], ArgOr(cmd, 1, row), &a.nMac, &a.nMic);
}

bool AckFloat3(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    return d.MMCmdAckFloat3(Command(cmd), cmd.dArg[0], cmd.dArg[1], cmd.dArg[2], &a.nMac, &a.nMic);
}

// Text settings count as done whatever the exchange did; its pair tells.
bool AckText(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    d.MMCmdAckText(Command(cmd), cmd.szString1, &a.nMac, &a.nMic);
    return true;
}

bool AckText2(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    d.MMCmdAckText2(Command(cmd), cmd.szString1, cmd.szString2, &a.nMac, &a.nMic);
    return true;
}

bool AckIntText(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    d.MMCmdAckIntText(Command(cmd), cmd.iArg[0], cmd.szString1, &a.nMac, &a.nMic);
    return true;
}

bool DoNothing(MMCMDCI&, const Row&, const ParsedCommand&, Answer&) { return true; }

// The data are cleared first, whatever that answers.
bool SetMode(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    int32_t nMac = 0, nMic = 0;
    d.MMCmdAck(code::kClearAll, &nMac, &nMic);
    return d.MMCmdAck(Command(cmd), &a.nMac, &a.nMic);
}

// The window covers the conversion gain; a failed query leaves its length 0.
bool ResetWindow(MMCMDCI& d, const Row&, const ParsedCommand&, Answer& a) {
    uint32_t dwGain = 0;
    d.MMCmdReadInt(code::kShowGainConversion, &dwGain, &a.nMac, &a.nMic);
    d.m_nWindowStart = 0;
    d.m_nWindowLength = dwGain;
    return true;
}

bool SetWindow(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    if (cmd.nArgs == 0) return ResetWindow(d, row, cmd, a);
    if (cmd.nArgs == 1) return Refused(a, kMicArgCount);
    const uint32_t nLength = cmd.iArg[1];
    if (nLength == 0 || cmd.iArg[0] > kMmcmdChannelLimit - nLength) return Refused(a, kMicArgSecond);
    d.m_nWindowStart = cmd.iArg[0];
    d.m_nWindowLength = nLength;
    return true;
}

bool ShowWindow(MMCMDCI& d, const Row&, const ParsedCommand&, Answer& a) {
    return FormatD(a.nSize, a.pszBuf, *a.pnLen, d.m_nWindowStart, d.m_nWindowLength);
}

bool ClearRoi(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    if (cmd.nArgs == 2) return d.MMCmdAckInt2(Command(cmd), cmd.iArg[0], cmd.iArg[1], &a.nMac, &a.nMic);
    return d.MMCmdAckInt2(Command(cmd), d.m_nWindowStart, d.m_nWindowLength, &a.nMac, &a.nMic);
}

// One argument: the value over the window; three: start, length, value.
bool SetData(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    if (cmd.nArgs == 1) {
        return d.MMCmdAckInt3(Command(cmd), d.m_nWindowStart, d.m_nWindowLength, cmd.iArg[0], &a.nMac, &a.nMic);
    }
    if (cmd.nArgs == 2) return Refused(a, kMicArgCount);
    if (cmd.iArg[0] >= static_cast<uint32_t>(kMmcmdChannelLimit)) return Refused(a, kMicArgFirst);
    if (cmd.iArg[1] == 0 || cmd.iArg[1] > kMmcmdChannelLimit - cmd.iArg[0]) return Refused(a, kMicArgSecond);
    return d.MMCmdAckInt3(Command(cmd), cmd.iArg[0], cmd.iArg[1], cmd.iArg[2], &a.nMac, &a.nMic);
}

// ---- reports ------------------------------------------------------------------------

bool ReadNumber(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    uint32_t dw = 0;
    if (!d.MMCmdReadInt(Command(cmd), &dw, &a.nMac, &a.nMic)) return false;
    return WriteNumber(a, row.nValue, dw);
}

bool ReadNumberOf(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    uint32_t dw = 0;
    if (!d.MMCmdReadIntOf(Command(cmd), cmd.iArg[0], &dw, &a.nMac, &a.nMic)) return false;
    return WriteNumber(a, row.nValue, dw);
}

bool ReadPair(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    uint32_t dw1 = 0, dw2 = 0;
    if (!d.MMCmdReadInt2(Command(cmd), &dw1, &dw2, &a.nMac, &a.nMic)) return false;
    return FormatD(a.nSize, a.pszBuf, *a.pnLen, dw1, dw2);
}

bool ReadPairOf(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    uint32_t dw1 = 0, dw2 = 0;
    if (!d.MMCmdReadInt2Of(Command(cmd), cmd.iArg[0], &dw1, &dw2, &a.nMac, &a.nMic)) return false;
    return FormatD(a.nSize, a.pszBuf, *a.pnLen, dw1, dw2);
}

bool ReadTriple(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    uint32_t dw[3];
    if (!d.MMCmdReadInt3(Command(cmd), dw, &a.nMac, &a.nMic)) return false;
    return FormatN(a.nSize, a.pszBuf, *a.pnLen, dw[0], dw[1], dw[2]);
}

bool ReadStatus(MMCMDCI& d, const Row&, const ParsedCommand& cmd, Answer& a) {
    uint32_t dw[4];
    if (!d.MMCmdReadInt4(Command(cmd), dw, &a.nMac, &a.nMic)) return false;
    return FormatM(a.nSize, a.pszBuf, *a.pnLen, dw[0], dw[1], dw[2], dw[3]);
}

// A single-precision value with its label; row.device: 1 when the command
// sends its argument (0 when absent).
bool ReadFloatLabelled(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    double dValue = 0;
    const bool bOk = row.device != 0 ? d.MMCmdReadFloatOf(Command(cmd), cmd.iArg[0], &dValue, &a.nMac, &a.nMic)
                                     : d.MMCmdReadFloat(Command(cmd), &dValue, &a.nMac, &a.nMic);
    if (!bOk) return false;
    return FormatListG(a.nSize, a.pszBuf, *a.pnLen, row.pszText, dValue);
}

bool ReadFloat2Labelled(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    double d1 = 0, d2 = 0;
    if (!d.MMCmdReadFloat2Of(Command(cmd), cmd.iArg[0], &d1, &d2, &a.nMac, &a.nMic)) return false;
    return FormatListGG(a.nSize, a.pszBuf, *a.pnLen, row.pszText, d1, d2);
}

bool ReadFloat3Labelled(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    double dv[3];
    if (!d.MMCmdReadFloat3(Command(cmd), dv, &a.nMac, &a.nMic)) return false;
    return FormatListGGG(a.nSize, a.pszBuf, *a.pnLen, row.pszText, dv[0], dv[1], dv[2]);
}

// row.device is the text length asked for, row.nValue the record.
bool ReadTextRecord(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    char szText[kTextSize];
    if (!d.MMCmdReadText(Command(cmd), static_cast<uint32_t>(row.device), szText, &a.nMac, &a.nMic)) return false;
    return WriteText(a, row.nValue, szText);
}

bool ReadTextOfRecord(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    char szText[kTextSize];
    if (!d.MMCmdReadTextOf(Command(cmd), cmd.iArg[0], static_cast<uint32_t>(row.device), szText, &a.nMac, &a.nMic)) {
        return false;
    }
    return WriteText(a, kRecordF, szText);
}

bool ReadTextForRecord(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    char szText[kTextSize];
    if (!d.MMCmdReadTextFor(Command(cmd), cmd.szString1, static_cast<uint32_t>(row.device), szText, &a.nMac,
                            &a.nMic)) {
        return false;
    }
    return WriteText(a, kRecordF, szText);
}

// Over the whole conversion gain, or the range given. A failed gain query
// sends a range of 0 channels.
bool ReadSum(MMCMDCI& d, const Row& row, const ParsedCommand& cmd, Answer& a) {
    if (cmd.nArgs == 1) return Refused(a, kMicArgCount);
    uint32_t dwFirst = cmd.iArg[0];
    uint32_t dwLength = cmd.iArg[1];
    if (cmd.nArgs == 0) {
        int32_t nMac = 0, nMic = 0;
        dwFirst = 0;
        d.MMCmdReadInt(code::kShowGainConversion, &dwLength, &nMac, &nMic);
    }
    uint32_t dw = 0;
    if (!d.MMCmdReadIntOf2(Command(cmd), dwFirst, dwLength, &dw, &a.nMac, &a.nMic)) return false;
    return WriteNumber(a, row.nValue, dw);
}

bool AnswerA0(MMCMDCI&, const Row&, const ParsedCommand&, Answer& a) {
    return FormatA(a.nSize, a.pszBuf, *a.pnLen, 0);
}
bool AnswerNoRemote(MMCMDCI&, const Row&, const ParsedCommand&, Answer& a) {
    return FormatI(a.nSize, a.pszBuf, *a.pnLen, false);
}
bool AnswerBinary(MMCMDCI&, const Row&, const ParsedCommand&, Answer& a) {
    return FormatF(a.nSize, a.pszBuf, *a.pnLen, "BIN");
}

// ---- dispatch -------------------------------------------------------------------------

// Rows: {code, handler, number (text length or default), label, record}.
const Row kActions[] = {
    // Actions.
    {code::kClearCounter, Ack}, {code::kClearPresets, Ack}, {code::kDisableBlrestoreAutomatic, Ack},
    {code::kDisableGainStabilization, Ack}, {code::kDisableHv, Ack}, {code::kDisableOptimizeNeeded, Ack},
    {code::kDisablePzadjustAutomatic, Ack}, {code::kDisablePzadjustNeeded, Ack},
    {code::kDisableThresholdSample, Ack}, {code::kDisableThresholdAutomatic, Ack},
    {code::kDisableZeroStabilization, Ack}, {code::kEnableBlrestoreAutomatic, Ack},
    {code::kEnableGainStabilization, Ack}, {code::kEnableHv, Ack}, {code::kEnableOptimizeNeeded, Ack},
    {code::kEnableOverflowPreset, Ack}, {code::kEnablePzadjustAutomatic, Ack}, {code::kEnablePzadjustNeeded, Ack},
    {code::kEnableThresholdSample, Ack}, {code::kEnableThresholdAutomatic, Ack},
    {code::kEnableZeroStabilization, Ack}, {code::kInitialize, Ack}, {code::kInitializeGainStabilization, Ack},
    {code::kInitializeZeroStabilization, Ack}, {code::kOpenFileFlash, Ack}, {code::kReset, Ack},
    {code::kSample, Ack}, {code::kSetGainNegative, Ack}, {code::kSetGainPositive, Ack},
    {code::kSetShutdownKelda, Ack}, {code::kSetShutdownTtl, Ack}, {code::kShowCorrectionAll, Ack},
    {code::kStart, Ack}, {code::kStartFlattopAutomatic, Ack}, {code::kStartOptimize, Ack},
    {code::kStartPzadjustAutomatic, Ack}, {code::kStop, Ack}, {code::kStopOptimize, Ack},
    {code::kStopPzadjustAutomatic, Ack}, {code::kDisableOverflowPreset, Ack}, {code::kEraseFlashFull, Ack},
    {code::kEnableGateRoute, Ack}, {code::kDisableGateRoute, Ack}, {code::kClearNuclideAll, Ack},
    {code::kClearHvHealth, Ack}, {code::kSetShutdownSmart, Ack}, {code::kDisableDisplay, Ack},
    {code::kEnableDisplay, Ack}, {code::kClearSpectrumAll, Ack}, {code::kWriteSpectrum, Ack},
    {code::kSetGateOff, Ack}, {code::kSetGateCoin, Ack}, {code::kSetGateAnti, Ack}, {code::kEnableNai, Ack},
    {code::kDisableNai, Ack}, {code::kWriteConfiguration, Ack}, {code::kEraseConfigurationAll, Ack},
    {code::kOff, Ack}, {code::kEnableHvDim, Ack}, {code::kDisableHvDim, Ack}, {code::kSetGateInhibit, Ack},
    // One integer setting.
    {code::kCloseFileFlash, AckInt}, {code::kMove, AckInt}, {code::kSetDebug, AckInt},
    {code::kSetDelaySample, AckInt}, {code::kSetGainChannel, AckInt}, {code::kSetGainCoarse, AckInt},
    {code::kSetGainConversion, AckInt}, {code::kSetGainPreset, AckInt}, {code::kSetGainWidth, AckInt},
    {code::kSetHv, AckInt}, {code::kSetIntegralPreset, AckInt}, {code::kSetLengthSample, AckInt},
    {code::kSetLive, AckInt}, {code::kSetLivePreset, AckInt}, {code::kSetLldiscriminator, AckInt},
    {code::kSetMarker, AckInt}, {code::kSetModeTest, AckInt}, {code::kSetPeakPreset, AckInt},
    {code::kSetPzadjust, AckInt}, {code::kSetPzadjustDelay, AckInt}, {code::kSetRoiSample, AckInt},
    {code::kSetShutdown, AckInt}, {code::kSetThresholdPositive, AckInt}, {code::kSetTriggerSample, AckInt},
    {code::kSetTrue, AckInt}, {code::kSetTruePreset, AckInt}, {code::kSetUldiscriminator, AckInt},
    {code::kSetZeroChannel, AckInt}, {code::kSetZeroPreset, AckInt}, {code::kSetZeroWidth, AckInt},
    {code::kTest, AckInt}, {code::kSetFrontendBypass, AckInt}, {code::kSetHvPolarity, AckInt},
    {code::kSetCgainSpecial, AckInt}, {code::kSetPeakAlignment, AckInt}, {code::kSetRs232Special, AckInt},
    {code::kSetConfigurationSpecial, AckInt}, {code::kReadConfiguration, AckInt},
    {code::kEraseConfiguration, AckInt}, {code::kClearNuclide, AckInt}, {code::kClearMdaPreset, AckInt, 20},
    {code::kSetGainAdjustment, AckSignedInt}, {code::kSetThresholdNegative, AckSignedInt},
    {code::kSetZeroAdjustment, AckSignedInt},
    {code::kSetRoi, AckInt2}, {code::kSetTccomp, AckInt2}, {code::kSetRoiUncert, AckInt2},
    {code::kBackdoor, AckInt3}, {code::kSetDate, AckInt3}, {code::kSetDateStart, AckInt3}, {code::kSetTime, AckInt3},
    {code::kSetTimeStart, AckInt3}, {code::kSetRoiNuclide, AckInt3}, {code::kSetRoiMda, AckInt3},
    {code::kClear, AckClearAll}, {code::kClearAll, AckClearAll}, {code::kClearData, AckClearAll},
    {code::kSetUncertPreset, AckFloat}, {code::kSetShutdownTemperature, AckFloat},
    {code::kSetNuclideCoef, AckFloatInt}, {code::kSetMdaPreset, AckFloatInt, 20}, {code::kSetMdaCoef, AckFloat3},
    {code::kSetSnum, AckText}, {code::kSetId, AckText}, {code::kSetNuclideUnits, AckText},
    {code::kSetDetectorSnum, AckText}, {code::kSetHvRecommend, AckText}, {code::kSetDetectorModel, AckText},
    {code::kSetDetectorCmd, AckText}, {code::kSetConfigurationLabel, AckText},
    {code::kSetDataApplication, AckText2}, {code::kSetNuclideDesc, AckIntText},
    // Commands with logic of their own.
    {code::kSetModePha, SetMode}, {code::kSetModeSample, SetMode}, {code::kSetDevice, ResetWindow},
    {code::kSetSegment, ResetWindow}, {code::kSetWindow, SetWindow}, {code::kShowWindow, ShowWindow},
    {code::kClearRoi, ClearRoi}, {code::kSetData, SetData},
    {code::kShowIntegral, ReadSum, 0, nullptr, kRecordG}, {code::kShowPeak, ReadSum, 0, nullptr, kRecordG},
    {code::kShowPeakChannel, ReadSum, 0, nullptr, kRecordC},
    // Numbers.
    {code::kShowDebug, ReadNumber, 0, nullptr, kRecordA}, {code::kShowLiveAdjustment, ReadNumber, 0, nullptr, kRecordA},
    {code::kShowModeTest, ReadNumber, 0, nullptr, kRecordA},
    {code::kShowActive, ReadNumber, 0, nullptr, kRecordC}, {code::kShowAdcConversion, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowDelaySample, ReadNumber, 0, nullptr, kRecordC}, {code::kShowGainChannel, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowGainCoarse, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowGainConversion, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowGainWidth, ReadNumber, 0, nullptr, kRecordC}, {code::kShowLengthSample, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowLldiscriminator, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowRoiSample, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowUldiscriminator, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowZeroChannel, ReadNumber, 0, nullptr, kRecordC}, {code::kShowZeroWidth, ReadNumber, 0, nullptr, kRecordC},
    {code::kShowHvHealth, ReadNumber, 0, nullptr, kRecordC}, {code::kShowTccomp, ReadNumberOf, 0, nullptr, kRecordC},
    {code::kShowGainPreset, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowIntegralPreset, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowIntegralRemaining, ReadNumber, 0, nullptr, kRecordG}, {code::kShowLive, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowLivePreset, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowLiveRemaining, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowPeakPreset, ReadNumber, 0, nullptr, kRecordG}, {code::kShowTrue, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowTruePreset, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowTrueRemaining, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowZeroPreset, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowFrontendBypass, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowSpectrumCount, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowConfigurationCount, ReadNumber, 0, nullptr, kRecordG},
    {code::kShowBlrestoreAutomatic, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowGainStabilization, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowPzadjustAutomatic, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowPzadjustDelay, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowShutdownActual, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowThresholdAutomatic, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowZeroStabilization, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowOverflowPreset, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowGateRoute, ReadNumber, 0, nullptr, kRecordI}, {code::kShowZdt, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowCgainSpecial, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowRs232Special, ReadNumber, 0, nullptr, kRecordI}, {code::kShowNai, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowConfigurationSpecial, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowHvDim, ReadNumber, 0, nullptr, kRecordI},
    {code::kShowHv, ReadPair}, {code::kShowHvActual, ReadPair}, {code::kShowHvTarget, ReadPair},
    {code::kShowNext, ReadPair}, {code::kShowRoi, ReadPair}, {code::kShowRoiUncert, ReadPair},
    {code::kShowRoiNuclide, ReadPairOf}, {code::kShowRoiMda, ReadPairOf},
    {code::kShowDate, ReadTriple}, {code::kShowDateStart, ReadTriple}, {code::kShowTime, ReadTriple},
    {code::kShowTimeStart, ReadTriple}, {code::kShowStatus, ReadStatus},
    {code::kShowNuclideCoef, ReadFloatLabelled, 1, "NUCLIDE_COEF"}, {code::kShowNuclide, ReadFloat2Labelled, 0, "NUCLIDE"},
    {code::kShowMdaCoef, ReadFloat3Labelled, 0, "MDA_COEF"}, {code::kShowMda, ReadFloatLabelled, 1, "MDA"},
    {code::kShowMdaPreset, ReadFloatLabelled, 1, "MDA_PRES"}, {code::kShowUncertPreset, ReadFloatLabelled, 0, "UNCE_PRES"},
    {code::kShowUncert, ReadFloatLabelled, 0, "UNCE"}, {code::kShowShutdownTemperature, ReadFloatLabelled, 0, "SHUT_TEMP"},
    {code::kShowDetectorTemperature, ReadFloatLabelled, 0, "SHUT_TEMP"},
    // Texts.
    {code::kShowConfigurationUart, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowVersion, ReadTextRecord, 32, nullptr, kRecordF}, {code::kShowId, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowNuclideUnits, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowDetectorSnum, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowHvRecommend, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowDetectorModel, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowConfigurationLabel, ReadTextRecord, 32, nullptr, kRecordF},
    {code::kShowSnum, ReadTextRecord, 8, nullptr, kRecordF}, {code::kShowConfiguration, ReadTextRecord, 96, nullptr, kRecordJ},
    {code::kShowDetectorVersion, ReadTextOfRecord, 32}, {code::kShowConfigurationId, ReadTextOfRecord, 32},
    {code::kShowMonitorLabel, ReadTextOfRecord, 64}, {code::kShowMonitorValue, ReadTextOfRecord, 64},
    {code::kShowNuclideDesc, ReadTextOfRecord, 20}, {code::kShowSpectrumId, ReadTextOfRecord, 20},
    {code::kShowDataApplication, ReadTextForRecord, 126}, {code::kShowDetectorCmd, ReadTextForRecord, 126},
    // What the driver knows itself.
    {code::kSetBlrestore, SetConverted}, {code::kSetCorrectionAll, SetConverted},
    {code::kSetCorrectionFlattop, SetConverted}, {code::kSetDelayCollection, SetConverted},
    {code::kSetGainFine, SetConverted}, {code::kSetShapingFlattop, SetConverted},
    {code::kSetShapingRisetime, SetConverted}, {code::kSetThresholdSample, SetConverted},
    {code::kShowBlrestore, ShowConverted}, {code::kShowCorrectionFlattop, ShowConverted},
    {code::kShowDelayCollection, ShowConverted}, {code::kShowGainFine, ShowConverted},
    {code::kShowShapingFlattop, ShowConverted}, {code::kShowShapingRisetime, ShowConverted},
    {code::kShowShapingCusp, ShowConverted},
    {code::kVerifyCorrectionFlattop, Verify}, {code::kVerifyShapingFlattop, Verify},
    {code::kVerifyShapingRisetime, Verify},
    {code::kListBlrestore, List}, {code::kListCorrectionFlattop, List}, {code::kListGainCoarse, List},
    {code::kListGainConversion, List}, {code::kListGainFine, List}, {code::kListHv, List},
    {code::kListRoiSample, List}, {code::kListShapingCusp, List}, {code::kListShapingFlattop, List},
    {code::kListShapingRisetime, List}, {code::kListShutdown, List}, {code::kListTriggerSample, List},
    {code::kListGate, List},
    {code::kShowGainPolarity, ShowLabel}, {code::kShowHvPolarity, ShowLabel}, {code::kShowMode, ShowLabel},
    {code::kShowShutdown, ShowLabel}, {code::kShowTriggerSample, ShowLabel}, {code::kShowGate, ShowGate},
    {code::kShowMonitorMaximum, ShowLabelledNumber}, {code::kShowCrm, ShowLabelledNumber},
    {code::kShowGainAdjustment, ShowLabelledNumber}, {code::kShowThresholdNegative, ShowLabelledNumber},
    {code::kShowThresholdPositive, ShowLabelledNumber}, {code::kShowVersionLogic, ShowLabelledNumber},
    {code::kShowZeroAdjustment, ShowLabelledNumber},
    {code::kShowPeakAlignment, ShowLabelledPair}, {code::kShowThresholdSample, ShowLabelledPair},
    {code::kShowPzadjust, ShowLabelledPair},
    {code::kShowDevice, ShowFixedDevice}, {code::kShowSegment, ShowFixedDevice}, {code::kShowRateZdt, AnswerA0},
    {code::kShowTriggerSpecial, AnswerA0}, {code::kShowRemote, AnswerNoRemote}, {code::kShowRadix, AnswerBinary},
    {code::kShowConfigurationMask, ShowConfigurationMask}, {code::kShowFeatures, ShowFeatures},
    {code::kComputer, DoNothing}, {code::kDisableRemote, DoNothing}, {code::kDisableTriggerSpecial, DoNothing},
    {code::kEnableRemote, DoNothing}, {code::kEnableTriggerSpecial, DoNothing}, {code::kResetRemote, DoNothing},
    {code::kSetDisplay, DoNothing}, {code::kSetRadixBinary, DoNothing}, {code::kSetShapingCusp, DoNothing},
    {code::kTerminal, DoNothing},
};

// SET_GATE goes out as the gate setting its argument names.
int32_t GateCode(uint32_t nGate) {
    constexpr int32_t kGates[] = {code::kSetGateOff, code::kSetGateCoin, code::kSetGateAnti, code::kSetGateInhibit};
    return nGate < 4 ? kGates[nGate] : code::kSetGateOff;
}

}  // namespace
}  // namespace mmcmd

bool MMCMDCI::HasAction(int32_t nCode) {
    return nCode == mmcmd_code::kSetGate || FindDispatchRow(mmcmd::kActions, nCode) != nullptr;
}

bool MMCMDCI::ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp, int32_t* pnRespLen, int32_t* pnMac,
                      int32_t* pnMic) {
    *pnMac = 0;
    *pnMic = 0;
    if (cmd.nCode == mmcmd_code::kSetGate) cmd.nCode = mmcmd::GateCode(cmd.iArg[0]);
    bool bResult = false;
    const mmcmd::Row* pRow = FindDispatchRow(mmcmd::kActions, cmd.nCode);
    if (pRow == nullptr) {
        *pnMac = kMacCommandError;
        *pnMic = kMicNoCommand;
    } else {
        Answer answer{nRespSize, pszResp, pnRespLen, *pnMac, *pnMic};
        bResult = pRow->pfnRun(*this, *pRow, cmd, answer);
    }
    if (*pnMac != 0 || *pnMic != 0) DebugPrint(0, m_family.pszExecError, cmd.nCode, *pnMac, *pnMic);
    if (!bResult) DebugPrint(0, m_family.pszExecFailed, cmd.nCode);
    return bResult;
}

}  // namespace linkbay
