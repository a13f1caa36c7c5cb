// The KORV command vocabulary.
#include "drivers/korv/korv_tables.h"

#include <cstddef>
#include <cstdint>

namespace linkbay {
namespace {

// Word ids, shared by the word tables and the command rows.
namespace verb {
enum : int32_t {
    kClear = 1, kComputer = 2, kDisable = 3, kEnable = 4, kList = 5, kReset = 6, kSet = 7,
    kShow = 8, kStart = 9, kStop = 10, kTerminal = 11, kInitialize = 12,
};
}  // namespace verb

namespace noun {
enum : int32_t {
    kActive = 1, kAdc = 2, kAll = 3, kBlre = 4, kCounter = 5, kConfiguration = 6, kData = 7,
    kDate = 8, kDevice = 9, kFeatures = 10, kGain = 11, kHv = 12, kIntegral = 13, kLive = 14,
    kLld = 15, kMode = 16, kNext = 17, kPeak = 18, kPresets = 19, kPur = 20, kRadix = 21,
    kRemote = 22, kRoi = 23, kSegment = 24, kShaping = 25, kSnum = 26, kStatus = 27, kTime = 28,
    kTrue = 29, kUld = 30, kVersion = 31, kWidth = 32, kWindow = 33,
};
}  // namespace noun

namespace mod {
enum : int32_t {
    kAutomatic = 1, kBattery = 2, kBinary = 3, kCoarse = 4, kConversion = 5, kDevices = 6,
    kFine = 7, kMask = 8, kNegative = 9, kPha = 10, kPolarity = 11, kPositive = 12, kPreset = 13,
    kReject = 14, kStart = 15, kUart = 16, kActual = 18, kTarget = 19,
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
    {"LLD", noun::kLld, 2}, {"ULD", noun::kUld, 2}, {"BLRE", noun::kBlre, 2},
    {"PUR", noun::kPur, 2},
};

constexpr WordEntry kModifiers[] = {
    {"PRESET", mod::kPreset, 2}, {"START", mod::kStart, 3}, {"COARSE", mod::kCoarse, 3},
    {"PHA", mod::kPha, 3}, {"FINE", mod::kFine, 3}, {"MASK", mod::kMask, 3},
    {"AUTOMATIC", mod::kAutomatic, 2}, {"CONVERSION", mod::kConversion, 3},
    {"DEVICES", mod::kDevices, 3}, {"UART", mod::kUart, 3}, {"BINARY", mod::kBinary, 2},
    {"NEGATIVE", mod::kNegative, 3}, {"POSITIVE", mod::kPositive, 3},
    {"POLARITY", mod::kPolarity, 3}, {"BATTERY", mod::kBattery, 2}, {"REJECT", mod::kReject, 3},
    {"ACTUAL", mod::kActual, 3}, {"TARGET", mod::kTarget, 3},
};

constexpr RangeEntry kRanges[] = {
    {0, 0},          // 0
    {1, 1},          // 1
    {1, 12},         // 2
    {0, 23},         // 3
    {1, 31},         // 4
    {0, 59},         // 5
    {0, 99},         // 6
    {0, 4095},       // 7: fine gain
    {0, 4095},       // 8: channels and 12-bit settings
    {0, 4096},       // 9
    {0, 65535},      // 10
    {0, 2147483647}, // 11
    {0, 196602000},  // 12
    {1, 64},         // 13
    {256, 4096},     // 14
    {-5000, 5000},   // 15
};

// {verb, noun, modifier, code, fewest args, most args, {range row per arg}}
constexpr CommandEntry kSetCommands[] = {
    {verb::kSet, noun::kDevice, 0, 23, 1, 1, {1, 0, 0, 0}},
    {verb::kSet, noun::kSegment, 0, 41, 1, 1, {1, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kCoarse, 24, 1, 1, {13, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kFine, 26, 1, 1, {7, 0, 0, 0}},
    {verb::kSet, noun::kLive, mod::kPreset, 35, 1, 1, {12, 0, 0, 0}},
    {verb::kSet, noun::kTrue, mod::kPreset, 46, 1, 1, {12, 0, 0, 0}},
    {verb::kSet, noun::kIntegral, mod::kPreset, 33, 1, 1, {12, 0, 0, 0}},
    {verb::kSet, noun::kWindow, 0, 49, 0, 2, {8, 9, 0, 0}},
    {verb::kSet, noun::kRoi, 0, 40, 2, 2, {8, 9, 0, 0}},
    {verb::kSet, noun::kMode, mod::kPha, 37, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kConversion, 25, 1, 1, {14, 0, 0, 0}},
    {verb::kSet, noun::kRadix, mod::kBinary, 39, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kDate, 0, 22, 3, 3, {4, 2, 6, 0}},
    {verb::kSet, noun::kTime, 0, 43, 3, 3, {3, 5, 5, 0}},
    {verb::kSet, noun::kShaping, 0, 42, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kNegative, 27, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kGain, mod::kPositive, 28, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kHv, mod::kNegative, 31, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kHv, mod::kPositive, 32, 0, 0, {0, 0, 0, 0}},
    {verb::kSet, noun::kHv, 0, 30, 1, 1, {15, 0, 0, 0}},
    {verb::kSet, noun::kLld, 0, 36, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kUld, 0, 47, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kBlre, 0, 21, 1, 1, {8, 0, 0, 0}},
    {verb::kSet, noun::kWidth, mod::kReject, 48, 1, 1, {8, 0, 0, 0}},
};

constexpr CommandEntry kShowCommands[] = {
    {verb::kShow, noun::kLive, 0, 71, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTrue, 0, 88, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kStatus, 0, 84, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDevice, 0, 59, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kSegment, 0, 81, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kActive, 0, 50, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kActive, mod::kDevices, 51, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kLive, mod::kPreset, 72, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTrue, mod::kPreset, 89, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDate, mod::kStart, 58, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTime, mod::kStart, 87, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kShaping, 0, 82, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kIntegral, 0, 69, 0, 2, {8, 9, 0, 0}},
    {verb::kShow, noun::kIntegral, mod::kPreset, 70, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kWindow, 0, 93, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kVersion, 0, 91, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, 0, 65, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, mod::kActual, 66, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, mod::kTarget, 68, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kHv, mod::kPolarity, 67, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kConfiguration, 0, 54, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kCoarse, 61, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kFine, 63, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kConversion, 62, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kGain, mod::kPolarity, 64, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kNext, 0, 75, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kRoi, 0, 80, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kFeatures, 0, 60, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kDate, 0, 57, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kTime, 0, 86, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kMode, 0, 74, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kConfiguration, mod::kUart, 56, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kConfiguration, mod::kMask, 55, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kSnum, 0, 83, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kRadix, 0, 78, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kLld, 0, 73, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kUld, 0, 90, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kStatus, mod::kBattery, 85, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kBlre, 0, 52, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kBlre, mod::kAutomatic, 53, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kPur, 0, 77, 0, 0, {0, 0, 0, 0}},
    {verb::kShow, noun::kWidth, mod::kReject, 92, 0, 0, {0, 0, 0, 0}},
};

constexpr CommandEntry kOtherCommands[] = {
    {verb::kStart, 0, 0, 94, 0, 1, {10, 0, 0, 0}},
    {verb::kStop, 0, 0, 95, 0, 1, {10, 0, 0, 0}},
    {verb::kClear, 0, 0, 1, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kData, 0, 4, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kRoi, 0, 6, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kPresets, 0, 5, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kAll, 0, 2, 0, 0, {0, 0, 0, 0}},
    {verb::kClear, noun::kCounter, 0, 3, 0, 0, {0, 0, 0, 0}},
    {verb::kComputer, 0, 0, 7, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kHv, 0, 13, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kPur, 0, 14, 0, 0, {0, 0, 0, 0}},
    {verb::kEnable, noun::kBlre, mod::kAutomatic, 12, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kHv, 0, 9, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kPur, 0, 10, 0, 0, {0, 0, 0, 0}},
    {verb::kDisable, noun::kBlre, mod::kAutomatic, 8, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kCoarse, 16, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kConversion, 17, 0, 0, {0, 0, 0, 0}},
    {verb::kList, noun::kGain, mod::kFine, 18, 0, 0, {0, 0, 0, 0}},
    {verb::kReset, 0, 0, 19, 0, 0, {0, 0, 0, 0}},
    {verb::kInitialize, 0, 0, 11, 0, 0, {0, 0, 0, 0}},
};

}  // namespace

const CommandSet kKorvCommandSet = {
    kVerbs, CountOf(kVerbs), kNouns, CountOf(kNouns), kModifiers, CountOf(kModifiers),
    kRanges, CountOf(kRanges), kSetCommands, CountOf(kSetCommands),
    kShowCommands, CountOf(kShowCommands), kOtherCommands, CountOf(kOtherCommands),
    verb::kSet, verb::kShow,
};

}  // namespace linkbay
