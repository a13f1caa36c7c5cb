// The ZEPH family's keywords, argument ranges and commands, and the codes
// its commands carry (shared by the command rows and the dispatch rows).
#pragma once

#include <cstdint>

#include "cmdlang/command_set.h"

namespace linkbay {

extern const CommandSet kZephCommandSet;

namespace zeph_code {
enum : int32_t {
    kClear = 1, kClearAll = 2, kClearCounter = 3, kClearData = 4, kClearPresets = 5, kClearRoi = 6,
    kComputer = 7, kDisableGainStabilization = 8, kDisableHv = 9, kDisablePur = 10,
    kDisableRemote = 12, kEnableGainStabilization = 13, kEnableHv = 14, kEnablePur = 15,
    kEnableRemote = 17, kInitialize = 18, kInitializeGainStabilization = 19, kListGainAdjustment = 20,
    kListGainCoarse = 21, kListGainConversion = 22, kListGainFine = 23, kListShutdown = 24, kReset = 25,
    kResetRemote = 26, kSetDate = 27, kSetDevice = 29,
    kSetGainChannel = 30, kSetGainAdjustment = 30,  // one action: the argument's magnitude is the channel
    kSetGainCoarse = 31, kSetGainConversion = 32, kSetGainFine = 33, kSetGainNegative = 34,
    kSetGainPositive = 35, kSetGainPreset = 36, kSetGainWidth = 37, kSetHv = 38, kSetHvNegative = 39,
    kSetHvPositive = 40, kSetInputRoute = 41, kSetIntegralPreset = 42, kSetLivePreset = 44, kSetLld = 45,
    kSetModeGauss = 46, kSetModePha = 47, kSetModeMcs = 48, kSetModePoint = 49, kSetPzadjust = 50,
    kSetRadixBinary = 51, kSetRoi = 52, kSetSegment = 53, kSetShaping = 54, kSetShutdown = 55,
    kSetShutdownOff = 56, kSetShutdownKelda = 57, kSetShutdownTtl = 58, kSetThreshold = 59, kSetTime = 60,
    kSetTruePreset = 63, kSetUld = 64, kSetWidthReject = 65, kSetWindow = 66,
    kShowActive = 67, kShowActiveDevices = 68, kShowConfiguration = 69, kShowConfigurationMask = 70,
    kShowConfigurationUart = 71, kShowCrm = 72, kShowDate = 73, kShowDateStart = 74, kShowDevice = 75,
    kShowDtc = 76, kShowDiscriminator = 77, kShowFeatures = 78, kShowGainAdjustment = 79,
    kShowGainChannel = 80, kShowGainCoarse = 81, kShowGainConversion = 82, kShowGainFine = 83,
    kShowGainPolarity = 84, kShowGainPreset = 85, kShowGainStabilization = 86, kShowGainWidth = 87,
    kShowHv = 88, kShowHvActual = 89, kShowHvPolarity = 90, kShowHvTarget = 91, kShowInputRoute = 92,
    kShowIntegral = 93, kShowIntegralPreset = 94, kShowLive = 95, kShowLivePreset = 96, kShowLld = 97,
    kShowMode = 98, kShowModeStabilization = 99, kShowNext = 100, kShowPower = 102, kShowPzadjust = 103,
    kShowPur = 105, kShowRadix = 106, kShowRemote = 107, kShowRevision = 108, kShowRoi = 109,
    kShowSegment = 110, kShowShaping = 111, kShowShutdown = 112, kShowSnum = 113, kShowStatus = 114,
    kShowStatusBattery = 115, kShowThreshold = 116, kShowTime = 117, kShowTimeStart = 118,
    kShowTrue = 119, kShowTruePreset = 120, kShowUld = 121, kShowVersion = 122, kShowWidthReject = 123,
    kShowWindow = 124, kStart = 125, kStop = 127, kTerminal = 128,
};
}  // namespace zeph_code

}  // namespace linkbay
