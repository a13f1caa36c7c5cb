// The ZEPH command vocabulary.
#include "drivers/zeph/zeph_tables.h"

#include <cstddef>
#include <cstdint>

namespace linkbay {
namespace {

namespace code = zeph_code;

// Word ids, shared by the word tables and the command rows.
namespace verb {
enum : int32_t {
    kClear = 1, kComputer = 2, kDisable = 3, kEnable = 4, kInitialize = 5, kList = 6, kReset = 7,
    kSet = 8, kShow = 9, kStart = 10, kStop = 11, kTerminal = 12,
};
}  // namespace verb

namespace noun {
enum : int32_t {
    kActive = 1, kAdc = 2, kAll = 3, kCounter = 4, kConfiguration = 5, kCrm = 6, kData = 7,
    kDate = 8, kDevice = 9, kDiscriminator = 10, kDtc = 11, kFeatures = 12, kGain = 13, kHv = 14,
    kInput = 15, kIntegral = 16, kLive = 17, kLld = 18, kMode = 19, kNext = 20, kPeak = 21,
    kPower = 22, kPresets = 23, kPur = 24, kPzadjust = 25, kRadix = 26, kRemote = 27,
    kRevision = 28, kRoi = 29, kSegment = 30, kShaping = 31, kShutdown = 32, kSnum = 33,
    kStatus = 34, kThreshold = 35, kTime = 36, kTrue = 37, kUld = 38, kVersion = 39, kWidth = 40,
    kWindow = 41,
};
}  // namespace noun

namespace mod {
enum : int32_t {
    kAdjustment = 1, kAutomatic = 2, kBattery = 3, kBinary = 4, kChannel = 5, kCoarse = 6,
    kConversion = 7, kDevices = 8, kFine = 9, kGauss = 10, kMask = 11, kMcs = 12, kNegative = 13,
    kOff = 14, kKelda = 15, kPha = 16, kPolarity = 17, kPoint = 18, kPositive = 19, kPreset = 20,
    kReject = 21, kRoute = 22, kStabilization = 23, kStart = 24, kTtl = 25, kUart = 26,
    kWidth = 27, kActual = 28, kTarget = 29,
};
}  // namespace mod

// Table order decides between keywords that share a prefix.
constexpr WordEntry kVerbs[] = {
    {"SHOW", verb::kShow, 2}, {"SET", verb::kSet, 2}, {"CLEAR", verb::kClear, 2},
    {"DISABLE", verb::kDisable, 2}, {"ENABLE", verb::kEnable, 2}, {"START", verb::kStart, 3},
    {"STOP", verb::kStop, 3}, {"LIST", verb::kList, 2}, {"TERMINAL", verb::kTerminal, 3},
    {"COMPUTER", verb::kComputer, 2}, {"RESET", verb::kReset, 3},
    {"INITIALIZE", verb::kInitialize, 3},
};

constexpr WordEntry kNouns[] = {
    {"LIVE", noun::kLive, 3}, {"TRUE", noun::kTrue, 3}, {"STATUS", noun::kStatus, 2},
    {"SEGMENT", noun::kSegment, 3}, {"DEVICE", noun::kDevice, 3}, {"ACTIVE", noun::kActive, 2},
    {"GAIN", noun::kGain, 3}, {"WINDOW", noun::kWindow, 3}, {"PEAK", noun::kPeak, 2},
    {"INTEGRAL", noun::kIntegral, 3}, {"SHAPING", noun::kShaping, 3}, {"MODE", noun::kMode, 2},
    {"DATE", noun::kDate, 4}, {"TIME", noun::kTime, 2}, {"WIDTH", noun::kWidth, 3},
    {"HV", noun::kHv, 2}, {"VERSION", noun::kVersion, 1}, {"ROI", noun::kRoi, 2},
    {"NEXT", noun::kNext, 3}, {"RADIX", noun::kRadix, 2}, {"REMOTE", noun::kRemote, 2},
    {"PRESETS", noun::kPresets, 2}, {"COUNTER", noun::kCounter, 3},
    {"CONFIGURATION", noun::kConfiguration, 3}, {"DATA", noun::kData, 4}, {"ADC", noun::kAdc, 2},
    {"FEATURES", noun::kFeatures, 3}, {"SNUM", noun::kSnum, 2}, {"ALL", noun::kAll, 3},
    {"LLD", noun::kLld, 2}, {"ULD", noun::kUld, 2}, {"PUR", noun::kPur, 2},
    {"PZADJUST", noun::kPzadjust, 2}, {"SHUTDOWN", noun::kShutdown, 4}, {"CRM", noun::kCrm, 2},
    {"THRESHOLD", noun::kThreshold, 3}, {"INPUT", noun::kInput, 3}, {"DTC", noun::kDtc, 3},
    {"DISCRIMINATOR", noun::kDiscriminator, 3}, {"REVISION", noun::kRevision, 3},
    {"POWER", noun::kPower, 3},
};

constexpr WordEntry kModifiers[] = {
    {"PRESET", mod::kPreset, 2}, {"START", mod::kStart, 3}, {"COARSE", mod::kCoarse, 3},
    {"PHA", mod::kPha, 3}, {"FINE", mod::kFine, 3}, {"MASK", mod::kMask, 3},
    {"ADJUSTMENT", mod::kAdjustment, 3}, {"CHANNEL", mod::kChannel, 2},
    {"AUTOMATIC", mod::kAutomatic, 2}, {"CONVERSION", mod::kConversion, 3},
    {"STABILIZATION", mod::kStabilization, 4}, {"DEVICES", mod::kDevices, 3},
    {"UART", mod::kUart, 3}, {"GAUSS", mod::kGauss, 2}, {"POINT", mod::kPoint, 2},
    {"WIDTH", mod::kWidth, 2}, {"BINARY", mod::kBinary, 2}, {"NEGATIVE", mod::kNegative, 3},
    {"POSITIVE", mod::kPositive, 3}, {"POLARITY", mod::kPolarity, 3},
    {"BATTERY", mod::kBattery, 2}, {"REJECT", mod::kReject, 3}, {"ACTUAL", mod::kActual, 3},
    {"TARGET", mod::kTarget, 3}, {"MCS", mod::kMcs, 3}, {"KELDA", mod::kKelda, 3},
    {"TTL", mod::kTtl, 3}, {"OFF", mod::kOff, 3}, {"ROUTE", mod::kRoute, 3},
};

constexpr RangeEntry kRanges[] = {
    {0, 0},          // 0
    {1, 1},          // 1
    {1, 12},         // 2
    {0, 23},         // 3
    {1, 31},         // 4
    {0, 59},         // 5
    {0, 99},         // 6
    {5000, 15000},   // 7
    {0, 4095},       // 8
    {0, 4096},       // 9
    {0, 65535},      // 10
    {0, 2147483647}, // 11
    {0, 196602000},  // 12
    {2, 1000},       // 13
    {128, 4096},     // 14
    {-3000, 3000},   // 15
    {-65535, 65535}, // 16
    {0, 2499},       // 17
    {2, 60},         // 18
    {0, 4},          // 19
    {0, 2},          // 20
};

// {verb, noun, modifier, code, fewest args, most args, {range row per arg}}
constexpr CommandEntry kSetCommands[] = {
    {verb::kSet, noun::kDevice, 0, code::kSetDevice, 1, 1, {1, 0, 0, 0}},
    {verb::kSet, noun::kSegment, 0, code::kSetSegment, 1, 1, {1, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kCoarse, code::kSetGainCoarse, 1, 1, {13, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kFine, code::kSetGainFine, 1, 1, {7, 0, 0, 0}},
    {verb::kSet, noun::kLive, mod::kPreset, code::kSetLivePreset, 1, 1, {12, 0, 0, 0}},
    {verb::kSet, noun::kTrue, mod::kPreset, code::kSetTruePreset, 1, 1, {12, 0, 0, 0}},
    {verb::kSet, noun::kIntegral, mod::kPreset, code::kSetIntegralPreset, 1, 1, {12, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kChannel, code::kSetGainChannel, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kPreset, code::kSetGainPreset, 1, 1, {11, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kWidth, code::kSetGainWidth, 1, 1, {9, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kAdjustment, code::kSetGainAdjustment, 1, 1, {16, 0, 0, 0}},
    {verb::kSet, noun::kMode, mod::kGauss, code::kSetModeGauss, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kMode, mod::kPoint, code::kSetModePoint, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kWindow, 0, code::kSetWindow, 0, 2, {8, 9, 0, 0}},
    {verb::kSet, noun::kRoi, 0, code::kSetRoi, 2, 2, {8, 9, 0, 0}},
    {verb::kSet, noun::kMode, mod::kPha, code::kSetModePha, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kMode, mod::kMcs, code::kSetModeMcs, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kConversion, code::kSetGainConversion, 1, 1, {14, 0, 0, 0}},
    {verb::kSet, noun::kRadix, mod::kBinary, code::kSetRadixBinary, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kDate, 0, code::kSetDate, 3, 3, {4, 2, 6, 0}},
    {verb::kSet, noun::kTime, 0, code::kSetTime, 3, 3, {3, 5, 5, 0}},
    {verb::kSet, noun::kShaping, 0, code::kSetShaping, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kNegative, code::kSetGainNegative, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kPositive, code::kSetGainPositive, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kHv, mod::kNegative, code::kSetHvNegative, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kHv, mod::kPositive, code::kSetHvPositive, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kHv, 0, code::kSetHv, 1, 1, {15, 0, 0, 0}},
    {verb::kSet, noun::kLld, 0, code::kSetLld, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kUld, 0, code::kSetUld, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kWidth, mod::kReject, code::kSetWidthReject, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kPzadjust, 0, code::kSetPzadjust, 1, 1, {17, 0, 0, 0}},
    {verb::kSet, noun::kShutdown, 0, code::kSetShutdown, 1, 1, {20, 0, 0, 0}},
    {verb::kSet, noun::kShutdown, mod::kOff, code::kSetShutdownOff, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kShutdown, mod::kKelda, code::kSetShutdownKelda, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kShutdown, mod::kTtl, code::kSetShutdownTtl, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kThreshold, 0, code::kSetThreshold, 1, 1, {18, 0, 0, 0}},
    {verb::kSet, noun::kInput, mod::kRoute, code::kSetInputRoute, 1, 1, {19, 0, 0, 0}},
};

constexpr CommandEntry kShowCommands[] = {
    {verb::kShow, noun::kLive, 0, code::kShowLive, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTrue, 0, code::kShowTrue, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kStatus, 0, code::kShowStatus, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDevice, 0, code::kShowDevice, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kSegment, 0, code::kShowSegment, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kActive, 0, code::kShowActive, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kActive, mod::kDevices, code::kShowActiveDevices, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kStabilization, code::kShowGainStabilization, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kLive, mod::kPreset, code::kShowLivePreset, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTrue, mod::kPreset, code::kShowTruePreset, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDate, mod::kStart, code::kShowDateStart, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTime, mod::kStart, code::kShowTimeStart, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kShaping, 0, code::kShowShaping, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kIntegral, 0, code::kShowIntegral, 0, 2, {8, 9, 0, 0}},
    {verb::kShow, noun::kIntegral, mod::kPreset, code::kShowIntegralPreset, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kWindow, 0, code::kShowWindow, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kVersion, 0, code::kShowVersion, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, 0, code::kShowHv, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, mod::kActual, code::kShowHvActual, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, mod::kTarget, code::kShowHvTarget, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, mod::kPolarity, code::kShowHvPolarity, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kConfiguration, 0, code::kShowConfiguration, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kCoarse, code::kShowGainCoarse, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kFine, code::kShowGainFine, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kConversion, code::kShowGainConversion, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kPolarity, code::kShowGainPolarity, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kPreset, code::kShowGainPreset, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kChannel, code::kShowGainChannel, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kWidth, code::kShowGainWidth, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kAdjustment, code::kShowGainAdjustment, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kNext, 0, code::kShowNext, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kRoi, 0, code::kShowRoi, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kFeatures, 0, code::kShowFeatures, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kRemote, 0, code::kShowRemote, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDate, 0, code::kShowDate, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTime, 0, code::kShowTime, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kMode, 0, code::kShowMode, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kMode, mod::kStabilization, code::kShowModeStabilization, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kConfiguration, mod::kUart, code::kShowConfigurationUart, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kConfiguration, mod::kMask, code::kShowConfigurationMask, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kSnum, 0, code::kShowSnum, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kRadix, 0, code::kShowRadix, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kLld, 0, code::kShowLld, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kUld, 0, code::kShowUld, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kStatus, mod::kBattery, code::kShowStatusBattery, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kPur, 0, code::kShowPur, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kWidth, mod::kReject, code::kShowWidthReject, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kPzadjust, 0, code::kShowPzadjust, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kShutdown, 0, code::kShowShutdown, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kCrm, 0, code::kShowCrm, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kThreshold, 0, code::kShowThreshold, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kInput, mod::kRoute, code::kShowInputRoute, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDtc, 0, code::kShowDtc, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDiscriminator, 0, code::kShowDiscriminator, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kRevision, 0, code::kShowRevision, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kPower, 0, code::kShowPower, 0, 0, {0, 0, 0, 0}},
};

constexpr CommandEntry kOtherCommands[] = {
    {verb::kStart, 0, 0, code::kStart, 0, 1, {10, 0, 0, 0}},
    {verb::kStop, 0, 0, code::kStop, 0, 1, {10, 0, 0, 0}},
    {verb::kClear, 0, 0, code::kClear, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kData, 0, code::kClearData, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kRoi, 0, code::kClearRoi, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kPresets, 0, code::kClearPresets, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kAll, 0, code::kClearAll, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kCounter, 0, code::kClearCounter, 0, 0, {0, 0, 0, 0}},
    {verb::kComputer, 0, 0, code::kComputer, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kGain, mod::kStabilization, code::kEnableGainStabilization, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kHv, 0, code::kEnableHv, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kRemote, 0, code::kEnableRemote, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kPur, 0, code::kEnablePur, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kGain, mod::kStabilization, code::kDisableGainStabilization, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kHv, 0, code::kDisableHv, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kRemote, 0, code::kDisableRemote, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kPur, 0, code::kDisablePur, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kCoarse, code::kListGainCoarse, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kConversion, code::kListGainConversion, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kFine, code::kListGainFine, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kAdjustment, code::kListGainAdjustment, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kShutdown, 0, code::kListShutdown, 0, 0, {0, 0, 0, 0}},
    {verb::kInitialize, noun::kGain, mod::kStabilization, code::kInitializeGainStabilization, 0, 0, {0, 0, 0, 0}},
    {verb::kTerminal, 0, 0, code::kTerminal, 0, 0, {0, 0, 0, 0}},
    {verb::kReset, 0, 0, code::kReset, 0, 0, {0, 0, 0, 0}},
    {verb::kInitialize, 0, 0, code::kInitialize, 0, 0, {0, 0, 0, 0}},
    {verb::kReset, noun::kRemote, 0, code::kResetRemote, 0, 0, {0, 0, 0, 0}},
};

}  // namespace

const CommandSet kZephCommandSet = {
    kVerbs, CountOf(kVerbs), kNouns, CountOf(kNouns), kModifiers, CountOf(kModifiers),
    kRanges, CountOf(kRanges), kSetCommands, CountOf(kSetCommands),
    kShowCommands, CountOf(kShowCommands), kOtherCommands, CountOf(kOtherCommands),
    verb::kSet, verb::kShow,
};

}  // namespace linkbay
