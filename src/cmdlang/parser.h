// The result of parsing one command line, and the error pairs the parser reports.
#pragma once

#include <cstdint>

namespace linkbay {

constexpr int kMaxArgSlots = 4;
constexpr int kCommandWordSize = 64;  // working copy of the command word
constexpr int kArgTextSize = 256;     // working copy of the argument text
constexpr int kString1Size = 81;
constexpr int kString2Size = 129;

// Set in a slot's flags when its number is negative, not whole or too large
// for 32 bits, i.e. when iArg does not hold the value as written.
constexpr uint8_t kArgNotUnsigned32 = 0x80;

// Error pairs (macro error, micro error).
constexpr int32_t kMacWordError = 129;       // micro: 1 verb + 2 noun + 4 modifier unknown
constexpr int32_t kMacCommandError = 131;
constexpr int32_t kMicArgRangeBase = 128;    // + slot of the first argument out of range
constexpr int32_t kMicArgCount = 132;
constexpr int32_t kMicNoCommand = 133;       // empty verb, or no row for the word triple
constexpr int32_t kMicUnknownVerb = 1;
constexpr int32_t kMicUnknownNoun = 2;
constexpr int32_t kMicUnknownModifier = 4;

struct ParsedCommand {
    int32_t nArgs;     // numeric and empty arguments seen; strings not counted
    int32_t nStrings;  // quoted strings kept (0..2)
    uint8_t flags[kMaxArgSlots];
    uint32_t iArg[kMaxArgSlots];  // magnitude truncated toward zero, modulo 2^32
    double dArg[kMaxArgSlots];    // value as written, sign included
    char szString1[kString1Size];
    char szString2[kString2Size];
    int32_t nVerb;  // word ids: 0 no word, -1 unknown word
    int32_t nNoun;
    int32_t nModifier;
    int32_t nCode;  // set only when the line was accepted
};

}  // namespace linkbay
