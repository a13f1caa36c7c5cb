// The keywords, argument ranges and commands of TAVO and PELLUX instruments
// (the two families share one vocabulary), and the codes their commands
// carry, which are also the numbers of the instrument's own commands.
#pragma once

#include <cstdint>

#include "cmdlang/command_set.h"

namespace linkbay {

extern const CommandSet kMmcmdCommandSet;

namespace mmcmd_code {
enum : int32_t {
    kBackdoor = 1, kClear = 2, kClearAll = 3, kClearCounter = 4, kClearData = 5, kClearPresets = 6,
    kClearRoi = 7, kCloseFileFlash = 9, kDisableBlrestoreAutomatic = 10, kDisableGainStabilization = 11,
    kDisableHv = 12, kDisableOptimizeNeeded = 13, kDisablePzadjustAutomatic = 14, kDisablePzadjustNeeded = 15,
    kDisableThresholdSample = 16, kDisableThresholdAutomatic = 17, kDisableZeroStabilization = 18,
    kEnableBlrestoreAutomatic = 19, kEnableGainStabilization = 20, kEnableHv = 21, kEnableOptimizeNeeded = 22,
    kEnableOverflowPreset = 23, kEnablePzadjustAutomatic = 24, kEnablePzadjustNeeded = 25,
    kEnableThresholdSample = 26, kEnableThresholdAutomatic = 27, kEnableZeroStabilization = 28,
    kInitialize = 29, kInitializeGainStabilization = 30, kInitializeZeroStabilization = 31, kMove = 32,
    kOpenFileFlash = 34, kRead = 35, kReset = 37, kSample = 38, kSetBlrestore = 39, kSetCorrectionAll = 40,
    kSetCorrectionFlattop = 41, kSetConfigurationUart = 42, kSetData = 43, kSetDataApplication = 44,
    kSetDate = 45, kSetDateStart = 46, kSetDebug = 47, kSetDelayCollection = 48, kSetDelaySample = 49,
    kSetGainAdjustment = 50, kSetGainChannel = 51, kSetGainCoarse = 52, kSetGainConversion = 53,
    kSetGainFine = 54, kSetGainNegative = 55, kSetGainPositive = 56, kSetGainPreset = 57, kSetGainWidth = 58,
    kSetHv = 59, kSetIntegralPreset = 60, kSetLengthSample = 61, kSetLive = 62, kSetLivePreset = 63,
    kSetLldiscriminator = 64, kSetMarker = 65, kSetModePha = 66, kSetModeTest = 67, kSetModeSample = 68,
    kSetPeakPreset = 69, kSetPzadjust = 70, kSetPzadjustDelay = 71, kSetRoi = 72, kSetRoiSample = 73,
    kSetShapingFlattop = 74, kSetShapingRisetime = 75, kSetShutdown = 76, kSetShutdownKelda = 77,
    kSetShutdownTtl = 78, kSetSnum = 79, kSetThresholdNegative = 80, kSetThresholdPositive = 81,
    kSetThresholdSample = 82, kSetTime = 83, kSetTimeStart = 84, kSetTriggerSample = 85, kSetTrue = 86,
    kSetTruePreset = 87, kSetUldiscriminator = 88, kSetZeroAdjustment = 89, kSetZeroChannel = 90,
    kSetZeroPreset = 91, kSetZeroWidth = 92, kShowActive = 93, kShowActiveDevices = 93,
    kShowAdcConversion = 94, kShowBlrestoreAutomatic = 95, kShowBlrestore = 96, kShowConfiguration = 97,
    kShowConfigurationMask = 98, kShowConfigurationUart = 99, kShowCorrectionFlattop = 100,
    kShowCorrectionAll = 101, kShowCrm = 102, kShowDataApplication = 103, kShowDate = 104,
    kShowDateStart = 105, kShowDebug = 106, kShowDelayCollection = 107, kShowDelaySample = 108,
    kShowGainAdjustment = 109, kShowGainChannel = 110, kShowGainCoarse = 111, kShowGainConversion = 112,
    kShowGainFine = 113, kShowGainPolarity = 114, kShowGainPreset = 115, kShowGainStabilization = 116,
    kShowGainWidth = 117, kShowHv = 118, kShowHvActual = 119, kShowHvTarget = 120, kShowIntegral = 121,
    kShowIntegralPreset = 122, kShowIntegralRemaining = 123, kShowLengthSample = 124, kShowLive = 125,
    kShowLiveAdjustment = 126, kShowLivePreset = 127, kShowLiveRemaining = 128, kShowLldiscriminator = 129,
    kShowMarker = 130, kShowMode = 131, kShowModeTest = 132, kShowNext = 133, kShowPeak = 134,
    kShowPeakChannel = 135, kShowPeakPreset = 136, kShowPzadjust = 137, kShowPzadjustAutomatic = 138,
    kShowPzadjustDelay = 139, kShowRoi = 140, kShowRoiSample = 141, kShowShapingFlattop = 142,
    kShowShapingRisetime = 143, kShowShutdown = 144, kShowShutdownActual = 145, kShowSnum = 146,
    kShowStatus = 147, kShowThresholdAutomatic = 148, kShowThresholdNegative = 149,
    kShowThresholdPositive = 150, kShowThresholdSample = 151, kShowTime = 152, kShowTimeStart = 153,
    kShowTrue = 154, kShowTruePreset = 155, kShowTrueRemaining = 156, kShowUldiscriminator = 157,
    kShowVersion = 158, kShowVersionLogic = 159, kShowZeroAdjustment = 160, kShowZeroChannel = 161,
    kShowZeroPreset = 162, kShowZeroStabilization = 163, kShowZeroWidth = 164, kStart = 165,
    kStartFlattopAutomatic = 166, kStartOptimize = 167, kStartPzadjustAutomatic = 168, kStop = 169,
    kStopOptimize = 170, kStopPzadjustAutomatic = 171, kTest = 172, kTestPzadjust = 173, kWrite = 174,
    kWriteFileFlash = 176, kEeprom = 177, kReadFileFlash = 178, kEraseFileFlash = 179,
    kDisableOverflowPreset = 180, kShowOverflowPreset = 181, kEraseFlashFull = 182, kEnableGateRoute = 183,
    kDisableGateRoute = 184, kShowGateRoute = 185, kShowTriggerSample = 186, kSetFrontendBypass = 188,
    kShowRateZdt = 189, kShowFrontendBypass = 191, kShowZdt = 192, kShowMonitorMaximum = 193,
    kShowMonitorLabel = 194, kShowMonitorValue = 195, kShowId = 196, kSetId = 197, kSetNuclideCoef = 198,
    kSetRoiNuclide = 199, kShowRoiNuclide = 200, kShowNuclide = 201, kClearNuclide = 202,
    kSetNuclideUnits = 203, kShowNuclideUnits = 204, kSetNuclideDesc = 205, kShowNuclideDesc = 206,
    kShowNuclideCoef = 207, kClearNuclideAll = 208, kShowHvPolarity = 209, kShowHvHealth = 210,
    kClearHvHealth = 211, kSetDetectorSnum = 212, kShowDetectorSnum = 213, kSetShutdownSmart = 214,
    kShowHvRecommend = 215, kDisableDisplay = 216, kEnableDisplay = 217, kSetTccomp = 218, kShowTccomp = 219,
    kShowSpectrumCount = 220, kClearSpectrumAll = 221, kWriteSpectrum = 223, kSetMdaPreset = 226,
    kClearMdaPreset = 227, kSetMdaCoef = 228, kShowMdaPreset = 229, kShowMdaCoef = 230, kSetRoiMda = 231,
    kShowRoiMda = 232, kShowMda = 233, kSetUncertPreset = 234, kShowUncertPreset = 235, kSetRoiUncert = 236,
    kShowRoiUncert = 237, kShowUncert = 238, kSetGateOff = 239, kSetGateCoin = 240, kSetGateAnti = 241,
    kShowGate = 242, kSetHvRecommend = 243, kSetHvPolarity = 244, kSetCgainSpecial = 245,
    kShowCgainSpecial = 246, kSetDetectorModel = 247, kShowDetectorModel = 248, kSetShutdownTemperature = 249,
    kShowShutdownTemperature = 250, kShowSpectrumId = 251, kShowDetectorTemperature = 252,
    kSetDetectorCmd = 253, kShowDetectorCmd = 254, kSetPeakAlignment = 256, kShowPeakAlignment = 257,
    kSetRs232Special = 258, kShowRs232Special = 259, kEnableNai = 260, kDisableNai = 261, kShowNai = 262,
    kSetConfigurationSpecial = 263, kShowConfigurationSpecial = 264, kShowDetectorVersion = 265,
    kShowConfigurationCount = 266, kReadConfiguration = 267, kWriteConfiguration = 268,
    kShowConfigurationId = 269, kEraseConfiguration = 270, kEraseConfigurationAll = 271,
    kShowConfigurationLabel = 272, kSetConfigurationLabel = 273, kOff = 274, kEnableHvDim = 275,
    kDisableHvDim = 276, kShowHvDim = 277, kSetGateInhibit = 290, kComputer = 901, kDisableRemote = 902,
    kDisableTriggerSpecial = 903, kEnableRemote = 904, kEnableTriggerSpecial = 905, kListBlrestore = 906,
    kListCorrectionFlattop = 907, kListGainCoarse = 908, kListGainConversion = 909, kListGainFine = 910,
    kListHv = 911, kListRoiSample = 912, kListShapingCusp = 913, kListShapingFlattop = 914,
    kListShapingRisetime = 915, kListShutdown = 916, kListTriggerSample = 917, kResetRemote = 918,
    kSetDevice = 919, kSetDisplay = 920, kSetRadixBinary = 921, kSetSegment = 922, kSetShapingCusp = 923,
    kSetWindow = 924, kShowDevice = 925, kShowFeatures = 926, kShowRadix = 927, kShowRemote = 928,
    kShowSegment = 929, kShowShapingCusp = 930, kShowTriggerSpecial = 931, kShowWindow = 932, kTerminal = 934,
    kVerifyCorrectionFlattop = 935, kVerifyShapingFlattop = 936, kVerifyShapingRisetime = 937, kSetGate = 938,
    kListGate = 939,
};
}  // namespace mmcmd_code

}  // namespace linkbay
