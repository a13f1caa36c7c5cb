// The result of parsing one command line, and the error pairs the parser reports.
#pragma once

#include <cstdint>

#include "cmdlang/result_codes.h"

namespace linkbay {

constexpr int kMaxArgSlots = 4;
constexpr int kCommandWordSize = 64;  // working copy of the command word
constexpr int kArgTextSize = 256;     // working copy of the argument text
constexpr int kString1Size = 81;
constexpr int kString2Size = 129;

// Set in a slot's flags when its number is negative, not whole or too large
// for 32 bits, i.e. when iArg does not hold the value as written.
constexpr uint8_t kArgNotUnsigned32 = 0x80;

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
