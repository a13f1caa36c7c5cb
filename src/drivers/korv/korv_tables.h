// The KORV family's keywords, argument ranges and commands, and the codes
// its commands carry (shared by the command rows and the dispatch rows).
#pragma once

#include <cstdint>

#include "cmdlang/command_set.h"

namespace linkbay {

extern const CommandSet kKorvCommandSet;

namespace korv_code {
enum : int32_t {
    kClear = 1, kClearAll = 2, kClearCounter = 3, kClearData = 4, kClearPresets = 5, kClearRoi = 6,
    kComputer = 7, kDisableBlreAutomatic = 8, kDisableHv = 9, kDisablePur = 10, kInitialize = 11,
    kEnableBlreAutomatic = 12, kEnableHv = 13, kEnablePur = 14, kListGainCoarse = 16,
    kListGainConversion = 17, kListGainFine = 18, kReset = 19, kSetBlre = 21, kSetDate = 22,
    kSetDevice = 23, kSetGainCoarse = 24, kSetGainConversion = 25, kSetGainFine = 26,
    kSetGainNegative = 27, kSetGainPositive = 28, kSetHv = 30, kSetHvNegative = 31,
    kSetHvPositive = 32, kSetIntegralPreset = 33, kSetLivePreset = 35, kSetLld = 36,
    kSetModePha = 37, kSetRadixBinary = 39, kSetRoi = 40, kSetSegment = 41, kSetShaping = 42,
    kSetTime = 43, kSetTruePreset = 46, kSetUld = 47, kSetWidthReject = 48, kSetWindow = 49,
    kShowActive = 50, kShowActiveDevices = 51, kShowBlre = 52, kShowBlreAutomatic = 53,
    kShowConfiguration = 54, kShowConfigurationMask = 55, kShowConfigurationUart = 56,
    kShowDate = 57, kShowDateStart = 58, kShowDevice = 59, kShowFeatures = 60,
    kShowGainCoarse = 61, kShowGainConversion = 62, kShowGainFine = 63, kShowGainPolarity = 64,
    kShowHv = 65, kShowHvActual = 66, kShowHvPolarity = 67, kShowHvTarget = 68, kShowIntegral = 69,
    kShowIntegralPreset = 70, kShowLive = 71, kShowLivePreset = 72, kShowLld = 73, kShowMode = 74,
    kShowNext = 75, kShowPur = 77, kShowRadix = 78, kShowRoi = 80, kShowSegment = 81,
    kShowShaping = 82, kShowSnum = 83, kShowStatus = 84, kShowStatusBattery = 85, kShowTime = 86,
    kShowTimeStart = 87, kShowTrue = 88, kShowTruePreset = 89, kShowUld = 90, kShowVersion = 91,
    kShowWidthReject = 92, kShowWindow = 93, kStart = 94, kStop = 95,
};
}  // namespace korv_code

}  // namespace linkbay
