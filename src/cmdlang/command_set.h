// The tables that define one instrument family's command vocabulary. They are
// constant static data of each driver class; nothing here owns or copies them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linkbay {

// One keyword of a word table (verbs, nouns or modifiers).
struct WordEntry {
    const char* pszWord;  // upper case
    int32_t nId;          // 1 or more; a keyword listed twice keeps one id
    int32_t nMinLen;      // fewest leading characters that select the keyword
};

// Inclusive bounds of one numeric argument.
struct RangeEntry {
    double dMin;
    double dMax;
};

// One command: its word triple, its code and the limits of its arguments.
struct CommandEntry {
    int32_t nVerb;
    int32_t nNoun;      // 0: the command has no noun
    int32_t nModifier;  // 0: the command has no modifier
    int32_t nCode;
    int32_t nMinArgs;
    int32_t nMaxArgs;   // at most 4
    uint8_t range[4];   // range table row per numeric argument
};

// Everything a driver hands to CIBase, in constructor order. Table A holds the
// rows of verb id A, table B those of verb id B, table C all others.
struct CommandSet {
    const WordEntry* pVerbs;
    int32_t nVerbs;
    const WordEntry* pNouns;
    int32_t nNouns;
    const WordEntry* pModifiers;
    int32_t nModifiers;
    const RangeEntry* pRanges;
    int32_t nRanges;
    const CommandEntry* pCommandsA;
    int32_t nCommandsA;
    const CommandEntry* pCommandsB;
    int32_t nCommandsB;
    const CommandEntry* pCommandsC;
    int32_t nCommandsC;
    int32_t nVerbA;
    int32_t nVerbB;
};

// Row count of a table, as the command set records it.
template <typename T, std::size_t N>
constexpr int32_t CountOf(const T (&)[N]) {
    return static_cast<int32_t>(N);
}

}  // namespace linkbay
