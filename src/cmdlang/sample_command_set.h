// A small command set shaped like a family's tables, for the command
// language's tests, fuzz target and benchmark. No part of the library uses it.
#pragma once

#include <cstddef>

#include "cmdlang/command_set.h"

namespace linkbay {
namespace sample {

enum Verb { kStart = 3, kStop = 4, kClear = 5, kLoad = 6, kSet = 16, kShow = 17 };
enum Noun { kGain = 20, kVersion = 30, kConfiguration = 31, kData = 32, kActive = 40,
            kName = 41, kCorrection = 42, kWindow = 50 };
enum Modifier { kChannel = 8, kCoarse = 9, kFine = 10, kMask = 11, kDevices = 12, kLong = 13 };

// 50 characters: "SHOW_VERSION_" and this make a 63-character command word.
inline constexpr char kLongWord[] = "LONGMODIFIERABCDEFGHIJKLMNOPQRSTUVWXYZ012345678901";

// START (minimum 2) stands before STOP (minimum 3): "ST" is START.
inline constexpr WordEntry kVerbs[] = {
    {"SET", kSet, 2},     {"SHOW", kShow, 2}, {"START", kStart, 2},
    {"STOP", kStop, 3},   {"CLEAR", kClear, 2}, {"LOAD", kLoad, 2},
};
inline constexpr WordEntry kNouns[] = {
    {"GAIN", kGain, 3},         {"WINDOW", kWindow, 3}, {"VERSION", kVersion, 4},
    {"CONFIGURATION", kConfiguration, 4}, {"DATA", kData, 2}, {"ACTIVE", kActive, 3},
    {"NAME", kName, 2},         {"CORRECTION", kCorrection, 4},
    {"CORRECTION", kCorrection, 4},
};
inline constexpr WordEntry kModifiers[] = {
    {"CHANNEL", kChannel, 2}, {"COARSE", kCoarse, 3}, {"FINE", kFine, 2},
    {"MASK", kMask, 4},       {"DEVICES", kDevices, 3}, {kLongWord, kLong, 4},
};
inline constexpr RangeEntry kRanges[] = {
    {0, 0}, {-100, 100}, {0, 4294967295.0}, {-1e300, 1e300}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
    {0, 32767}, {0, 1000},
};
inline constexpr CommandEntry kSetCommands[] = {
    {kSet, kGain, kChannel, 51, 1, 1, {8, 0, 0, 0}},
    {kSet, kWindow, 0, 924, 0, 2, {8, 9, 0, 0}},
    {kSet, kGain, kFine, 52, 1, 1, {2, 0, 0, 0}},
    {kSet, kGain, kCoarse, 53, 1, 1, {1, 0, 0, 0}},
    {kSet, kName, 0, 60, 0, 0, {0, 0, 0, 0}},
};
inline constexpr CommandEntry kShowCommands[] = {
    {kShow, kVersion, 0, 70, 0, 0, {0, 0, 0, 0}},
    {kShow, kConfiguration, kMask, 71, 0, 0, {0, 0, 0, 0}},
    {kShow, kActive, 0, 93, 0, 0, {0, 0, 0, 0}},
    {kShow, kActive, kDevices, 93, 0, 0, {0, 0, 0, 0}},
    {kShow, kVersion, kLong, 72, 0, 0, {0, 0, 0, 0}},
};
// The SET_DATA row is misplaced on purpose: SET lines search table A only.
inline constexpr CommandEntry kOtherCommands[] = {
    {kStart, 0, 0, 1, 0, 0, {0, 0, 0, 0}},
    {kStop, 0, 0, 2, 0, 0, {0, 0, 0, 0}},
    {kClear, kData, 0, 3, 0, 0, {0, 0, 0, 0}},
    {kLoad, kData, 0, 5, 0, 4, {3, 3, 3, 3}},
    {kSet, kData, 0, 6, 0, 0, {0, 0, 0, 0}},
};

template <typename T, size_t N>
constexpr int32_t Count(const T (&)[N]) { return static_cast<int32_t>(N); }

inline constexpr CommandSet kCommandSet = {
    kVerbs, Count(kVerbs), kNouns, Count(kNouns), kModifiers, Count(kModifiers),
    kRanges, Count(kRanges), kSetCommands, Count(kSetCommands),
    kShowCommands, Count(kShowCommands), kOtherCommands, Count(kOtherCommands),
    kSet, kShow,
};

}  // namespace sample
}  // namespace linkbay
