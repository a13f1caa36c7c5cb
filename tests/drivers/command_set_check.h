// Checks one family's CommandSet against its vocabulary written out as text:
// keywords as "WORD id/min", ranges as numbers, commands either as
// "NAME code (min-max; rA, rB)" or as "NAME | code | min to max: lo..hi, lo..hi".
// The text is the second source; the checks read the C++ tables only through
// the set itself and the real parser.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "cmdlang/ci_base.h"

namespace linkbay {
namespace table_check {

struct RowCounts {
    int32_t nVerbs, nNouns, nModifiers, nRanges, nCommandsA, nCommandsB, nCommandsC;
};

struct FamilyText {
    std::vector<const char*> verbs, nouns, modifiers;
    std::vector<RangeEntry> ranges;
    std::vector<const char*> commandsA, commandsB, commandsC;
    RowCounts counts;
};

struct TextWord {
    std::string word;
    int32_t nId;
    int32_t nMinLen;
};

struct TextCommand {
    std::string name;
    int32_t nCode = 0;
    int32_t nMinArgs = 0;
    int32_t nMaxArgs = 0;
    RangeEntry bounds[kMaxArgSlots] = {};
    int rangeRow[kMaxArgSlots] = {-1, -1, -1, -1};  // -1: the text gives bounds, not rows
};

// Gives the tests the word lookup the parser uses.
class TableCI : public CIBase {
public:
    explicit TableCI(const CommandSet& set) : CIBase(set) {}
    using CIBase::LookupWord;
};

inline TextWord ReadWord(const std::string& text) {
    static const std::regex kForm(R"(([A-Z0-9]+) (\d+)/(\d+))");
    std::smatch m;
    if (!std::regex_match(text, m, kForm)) {
        ADD_FAILURE() << "unreadable keyword \"" << text << "\"";
        return {};
    }
    return {m[1], std::stoi(m[2]), std::stoi(m[3])};
}

inline std::vector<TextWord> ReadWords(const std::vector<const char*>& texts) {
    std::vector<TextWord> words;
    for (const char* text : texts) words.push_back(ReadWord(text));
    return words;
}

inline std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    for (size_t comma; (comma = list.find(", ", start)) != std::string::npos; start = comma + 2)
        items.push_back(list.substr(start, comma - start));
    items.push_back(list.substr(start));
    return items;
}

// Argument limits in either notation; ranges given as rows are resolved through
// the text's own range table.
inline TextCommand ReadCommand(const std::string& text, const std::vector<RangeEntry>& ranges) {
    static const std::regex kRowForm(R"(([A-Z0-9_]+) (\d+)(?: \((\d+)(?:-(\d+))?; (.*)\))?)");
    static const std::regex kBoundsForm(
        R"(([A-Z0-9_]+) \| (\d+) \| (?:-|(?:(\d+) to )?(\d+): (.*)))");
    TextCommand cmd;
    std::smatch m;
    const bool bRows = std::regex_match(text, m, kRowForm);
    if (!bRows && !std::regex_match(text, m, kBoundsForm)) {
        ADD_FAILURE() << "unreadable command \"" << text << "\"";
        return cmd;
    }
    cmd.name = m[1];
    cmd.nCode = std::stoi(m[2]);
    if (!m[5].matched) return cmd;
    // Counts: "(n; ...)" or "(a-b; ...)", and "n: ..." or "a to b: ...".
    const std::ssub_match& lower = bRows ? m[3] : m[3].matched ? m[3] : m[4];
    const std::ssub_match& upper = bRows ? (m[4].matched ? m[4] : m[3]) : m[4];
    cmd.nMinArgs = std::stoi(lower);
    cmd.nMaxArgs = std::stoi(upper);
    const std::vector<std::string> slots = SplitList(m[5]);
    if (static_cast<int32_t>(slots.size()) != cmd.nMaxArgs || cmd.nMaxArgs > kMaxArgSlots) {
        ADD_FAILURE() << "slot list does not match the count in \"" << text << "\"";
        return cmd;
    }
    for (size_t i = 0; i < slots.size(); ++i) {
        if (bRows) {
            cmd.rangeRow[i] = std::stoi(slots[i].substr(1));
            if (cmd.rangeRow[i] < static_cast<int>(ranges.size()))
                cmd.bounds[i] = ranges[cmd.rangeRow[i]];
        } else {
            const size_t dots = slots[i].find("..");
            cmd.bounds[i] = {std::stod(slots[i].substr(0, dots)),
                             std::stod(slots[i].substr(dots + 2))};
        }
    }
    return cmd;
}

// Verb, noun and modifier; the modifier keeps any further underscores.
inline std::vector<std::string> SplitCommandWord(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; parts.size() < 2 && (end = name.find('_', start)) != std::string::npos;
         start = end + 1) {
        parts.push_back(name.substr(start, end - start));
    }
    parts.push_back(name.substr(start));
    return parts;
}

inline int32_t IdOf(const std::vector<TextWord>& words, const std::string& word) {
    for (const TextWord& w : words) {
        if (w.word == word) return w.nId;
    }
    ADD_FAILURE() << "no keyword " << word;
    return -2;
}

// What first-match lookup over the text's keyword list gives.
inline int32_t FirstMatchId(const std::vector<TextWord>& words, const std::string& prefix) {
    for (const TextWord& w : words) {
        const bool bLongEnough = static_cast<int32_t>(prefix.size()) >= w.nMinLen;
        if (bLongEnough && w.word.compare(0, prefix.size(), prefix) == 0) return w.nId;
    }
    return -1;
}

inline void ExpectCounts(const CommandSet& set, const RowCounts& c) {
    EXPECT_EQ(set.nVerbs, c.nVerbs);
    EXPECT_EQ(set.nNouns, c.nNouns);
    EXPECT_EQ(set.nModifiers, c.nModifiers);
    EXPECT_EQ(set.nRanges, c.nRanges);
    EXPECT_EQ(set.nCommandsA, c.nCommandsA);
    EXPECT_EQ(set.nCommandsB, c.nCommandsB);
    EXPECT_EQ(set.nCommandsC, c.nCommandsC);
}

inline void ExpectRanges(const CommandSet& set, const std::vector<RangeEntry>& text) {
    ASSERT_EQ(set.nRanges, static_cast<int32_t>(text.size()));
    for (size_t i = 0; i < text.size(); ++i) {
        EXPECT_EQ(set.pRanges[i].dMin, text[i].dMin) << "range row " << i;
        EXPECT_EQ(set.pRanges[i].dMax, text[i].dMax) << "range row " << i;
    }
}

// Row by row in table order, then through the parser's lookup: the full word
// selects the keyword, its shortest abbreviation and one character less select
// what first match over the listed keywords selects, and the latter never the keyword.
inline void ExpectWordTable(const WordEntry* pTable, int32_t nCount,
                            const std::vector<const char*>& texts) {
    const std::vector<TextWord> words = ReadWords(texts);
    ASSERT_EQ(nCount, static_cast<int32_t>(words.size()));
    for (size_t i = 0; i < words.size(); ++i) {
        const TextWord& w = words[i];
        SCOPED_TRACE(texts[i]);
        EXPECT_STREQ(pTable[i].pszWord, w.word.c_str());
        EXPECT_EQ(pTable[i].nId, w.nId);
        EXPECT_EQ(pTable[i].nMinLen, w.nMinLen);

        EXPECT_EQ(TableCI::LookupWord(pTable, nCount, w.word.c_str()), w.nId);
        // An earlier keyword may claim the shortest form too (FLA is FLATTOP's,
        // not FLASH's, when both are nouns); first match decides.
        const std::string shortest = w.word.substr(0, w.nMinLen);
        EXPECT_EQ(TableCI::LookupWord(pTable, nCount, shortest.c_str()),
                  FirstMatchId(words, shortest)) << shortest;
        if (w.nMinLen > 1) {
            const std::string shorter = w.word.substr(0, w.nMinLen - 1);
            const int32_t nId = TableCI::LookupWord(pTable, nCount, shorter.c_str());
            EXPECT_NE(nId, w.nId) << shorter;
            EXPECT_EQ(nId, FirstMatchId(words, shorter)) << shorter;
        }
    }
}

struct Outcome {
    bool bOk;
    int32_t nMac, nMic, nCode;
};

inline Outcome Parse(const CIBase& ci, const std::string& line) {
    ParsedCommand cmd;
    Outcome out{};
    out.bOk = ci.ParseCommand(line.c_str(), cmd, out.nMac, out.nMic);
    out.nCode = cmd.nCode;
    return out;
}

// Whole numbers the parser reads exactly as written; anything else is forced
// through the real-number path so that 2^32 is not read modulo 2^32.
inline std::string FormatArg(double d) {
    char sz[40];
    if (d >= 0 && d < 4294967296.0 && d == std::floor(d)) {
        std::snprintf(sz, sizeof sz, "%.0f", d);
        return sz;
    }
    std::snprintf(sz, sizeof sz, "%.17g", d);
    std::string s = sz;
    if (s.find_first_of(".eE-") == std::string::npos) s += ".0";
    return s;
}

// The nearest value outside a bound: one whole unit past a whole bound, else the next double.
inline double Beyond(double bound, double direction) {
    const bool bWhole = bound == std::floor(bound) && std::fabs(bound) < 9007199254740992.0;
    if (bWhole) return bound + direction;
    return std::nextafter(bound, direction * std::numeric_limits<double>::infinity());
}

inline std::string Line(const std::string& word, const std::vector<double>& args) {
    std::string line = word;
    for (size_t i = 0; i < args.size(); ++i) line += (i == 0 ? " " : ",") + FormatArg(args[i]);
    return line;
}

inline void ExpectParses(const CIBase& ci, const std::string& line, int32_t nCode) {
    const Outcome out = Parse(ci, line);
    EXPECT_TRUE(out.bOk && out.nCode == nCode)
        << line << ": ok " << out.bOk << ", code " << out.nCode << " (want " << nCode << "), "
        << out.nMac << "/" << out.nMic;
}

inline void ExpectRefused(const CIBase& ci, const std::string& line, int32_t nMic) {
    const Outcome out = Parse(ci, line);
    EXPECT_TRUE(!out.bOk && out.nMac == kMacCommandError && out.nMic == nMic)
        << line << ": ok " << out.bOk << ", " << out.nMac << "/" << out.nMic
        << " (want 131/" << nMic << ")";
}

// Accepted at both ends of its argument count and of every slot's range,
// refused one argument or one value beyond them.
inline void ExpectLimits(const CIBase& ci, const TextCommand& cmd) {
    std::vector<double> lows, highs;
    for (int32_t i = 0; i < cmd.nMaxArgs; ++i) {
        lows.push_back(cmd.bounds[i].dMin);
        highs.push_back(cmd.bounds[i].dMax);
    }
    const std::vector<double> fewest(lows.begin(), lows.begin() + cmd.nMinArgs);
    ExpectParses(ci, Line(cmd.name, fewest), cmd.nCode);
    ExpectParses(ci, Line(cmd.name, highs), cmd.nCode);
    if (cmd.nMinArgs > 0) {
        const std::vector<double> tooFew(lows.begin(), lows.begin() + cmd.nMinArgs - 1);
        ExpectRefused(ci, Line(cmd.name, tooFew), kMicArgCount);
    }
    if (cmd.nMaxArgs < kMaxArgSlots) {
        std::vector<double> tooMany = highs;
        tooMany.push_back(0);
        ExpectRefused(ci, Line(cmd.name, tooMany), kMicArgCount);
    }
    for (int32_t i = 0; i < cmd.nMaxArgs; ++i) {
        std::vector<double> args = highs;
        args[i] = Beyond(cmd.bounds[i].dMax, +1);
        ExpectRefused(ci, Line(cmd.name, args), kMicArgRangeBase + i);
        args[i] = Beyond(cmd.bounds[i].dMin, -1);
        ExpectRefused(ci, Line(cmd.name, args), kMicArgRangeBase + i);
    }
}

// One command table: each row in order against its text, then through the
// parser. A row whose word triple already stood earlier cannot be reached and
// is only compared.
inline void ExpectCommandTable(const CommandSet& set, const CommandEntry* pRows, int32_t nRows,
                               const std::vector<const char*>& texts, const FamilyText& family) {
    const std::vector<TextWord> verbs = ReadWords(family.verbs);
    const std::vector<TextWord> nouns = ReadWords(family.nouns);
    const std::vector<TextWord> modifiers = ReadWords(family.modifiers);
    const TableCI ci(set);
    ASSERT_EQ(nRows, static_cast<int32_t>(texts.size()));
    std::vector<std::string> seen;
    for (int32_t r = 0; r < nRows; ++r) {
        SCOPED_TRACE(texts[r]);
        const TextCommand cmd = ReadCommand(texts[r], family.ranges);
        const CommandEntry& row = pRows[r];
        const std::vector<std::string> parts = SplitCommandWord(cmd.name);
        EXPECT_EQ(row.nVerb, IdOf(verbs, parts[0]));
        EXPECT_EQ(row.nNoun, parts.size() > 1 ? IdOf(nouns, parts[1]) : 0);
        EXPECT_EQ(row.nModifier, parts.size() > 2 ? IdOf(modifiers, parts[2]) : 0);
        EXPECT_EQ(row.nCode, cmd.nCode);
        EXPECT_EQ(row.nMinArgs, cmd.nMinArgs);
        EXPECT_EQ(row.nMaxArgs, cmd.nMaxArgs);
        for (int i = 0; i < kMaxArgSlots; ++i) {
            if (i >= cmd.nMaxArgs) {
                EXPECT_EQ(row.range[i], 0) << "unused slot " << i;
                continue;
            }
            if (cmd.rangeRow[i] >= 0) {
                EXPECT_EQ(row.range[i], cmd.rangeRow[i]) << "slot " << i;
            }
            ASSERT_LT(row.range[i], set.nRanges) << "slot " << i;
            EXPECT_EQ(set.pRanges[row.range[i]].dMin, cmd.bounds[i].dMin) << "slot " << i;
            EXPECT_EQ(set.pRanges[row.range[i]].dMax, cmd.bounds[i].dMax) << "slot " << i;
        }
        bool bShadowed = false;
        for (const std::string& earlier : seen) bShadowed = bShadowed || earlier == cmd.name;
        seen.push_back(cmd.name);
        if (!bShadowed) ExpectLimits(ci, cmd);
    }
}

inline void ExpectCommandTables(const CommandSet& set, const FamilyText& family) {
    ExpectCommandTable(set, set.pCommandsA, set.nCommandsA, family.commandsA, family);
    ExpectCommandTable(set, set.pCommandsB, set.nCommandsB, family.commandsB, family);
    ExpectCommandTable(set, set.pCommandsC, set.nCommandsC, family.commandsC, family);
}

// SET rows only in table A, SHOW rows only in table B, and the set names them.
inline void ExpectVerbGroups(const CommandSet& set, const FamilyText& family) {
    const std::vector<TextWord> verbs = ReadWords(family.verbs);
    const int32_t nSet = IdOf(verbs, "SET");
    const int32_t nShow = IdOf(verbs, "SHOW");
    EXPECT_EQ(set.nVerbA, nSet);
    EXPECT_EQ(set.nVerbB, nShow);
    for (int32_t i = 0; i < set.nCommandsA; ++i)
        EXPECT_EQ(set.pCommandsA[i].nVerb, nSet) << "table A row " << i;
    for (int32_t i = 0; i < set.nCommandsB; ++i)
        EXPECT_EQ(set.pCommandsB[i].nVerb, nShow) << "table B row " << i;
    for (int32_t i = 0; i < set.nCommandsC; ++i) {
        EXPECT_NE(set.pCommandsC[i].nVerb, nSet) << "table C row " << i;
        EXPECT_NE(set.pCommandsC[i].nVerb, nShow) << "table C row " << i;
    }
}

inline void ExpectWordTables(const CommandSet& set, const FamilyText& family) {
    {
        SCOPED_TRACE("verbs");
        ExpectWordTable(set.pVerbs, set.nVerbs, family.verbs);
    }
    {
        SCOPED_TRACE("nouns");
        ExpectWordTable(set.pNouns, set.nNouns, family.nouns);
    }
    SCOPED_TRACE("modifiers");
    ExpectWordTable(set.pModifiers, set.nModifiers, family.modifiers);
}

// Every part of a command set against its family's text: row counts, range
// rows, the three word tables, the SET/SHOW split and each command's row.
inline void ExpectMatchesText(const CommandSet& set, const FamilyText& family) {
    {
        SCOPED_TRACE("row counts");
        ExpectCounts(set, family.counts);
    }
    {
        SCOPED_TRACE("range rows");
        ExpectRanges(set, family.ranges);
    }
    ExpectWordTables(set, family);
    {
        SCOPED_TRACE("verb groups");
        ExpectVerbGroups(set, family);
    }
    SCOPED_TRACE("command rows");
    ExpectCommandTables(set, family);
}

}  // namespace table_check
}  // namespace linkbay
