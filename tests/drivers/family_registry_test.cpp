// Every family of the registry: its public row agrees with its driver row,
// its command set keeps the rules every set must keep (checked through the
// real parser), its dispatch covers exactly its commands, and a few rows per
// family match an independent list of command words, codes and limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cmdlang/ci_base.h"
#include "drivers/family_registry.h"

namespace linkbay {
namespace {

// Gives the tests the word lookup the parser uses.
class TableCI : public CIBase {
public:
    explicit TableCI(const CommandSet& set) : CIBase(set) {}
    using CIBase::LookupWord;
};

struct Parsed {
    bool bOk;
    int32_t nMac, nMic, nCode;
};

Parsed Parse(const CommandSet& set, const std::string& line) {
    const TableCI ci(set);
    ParsedCommand cmd;
    Parsed out{};
    out.bOk = ci.ParseCommand(line.c_str(), cmd, out.nMac, out.nMic);
    out.nCode = cmd.nCode;
    return out;
}

const char* WordOf(const WordEntry* pTable, int32_t nCount, int32_t nId) {
    for (int32_t i = 0; i < nCount; ++i) {
        if (pTable[i].nId == nId) return pTable[i].pszWord;
    }
    return nullptr;
}

std::string Number(double d) {
    char sz[40];
    std::snprintf(sz, sizeof sz, d == std::floor(d) ? "%.0f" : "%.17g", d);
    return sz;
}

// The row's command word with its fewest arguments, each at its lower bound.
std::string LineOf(const CommandSet& set, const CommandEntry& row) {
    std::string line = WordOf(set.pVerbs, set.nVerbs, row.nVerb);
    if (row.nNoun != 0) line += std::string("_") + WordOf(set.pNouns, set.nNouns, row.nNoun);
    if (row.nModifier != 0) line += std::string("_") + WordOf(set.pModifiers, set.nModifiers, row.nModifier);
    for (int32_t i = 0; i < row.nMinArgs; ++i) line += (i == 0 ? " " : ",") + Number(set.pRanges[row.range[i]].dMin);
    return line;
}

std::vector<const CommandEntry*> RowsOf(const CommandSet& set) {
    std::vector<const CommandEntry*> rows;
    for (int32_t i = 0; i < set.nCommandsA; ++i) rows.push_back(&set.pCommandsA[i]);
    for (int32_t i = 0; i < set.nCommandsB; ++i) rows.push_back(&set.pCommandsB[i]);
    for (int32_t i = 0; i < set.nCommandsC; ++i) rows.push_back(&set.pCommandsC[i]);
    return rows;
}

class EveryFamily : public ::testing::TestWithParam<int32_t> {
protected:
    const FamilyDriver& Driver() const { return kFamilyDrivers[GetParam()]; }
    const CommandSet& Set() const { return *Driver().pCommandSet; }
};

TEST_P(EveryFamily, HasOnePublicRowWithADistinctKeywordThatDiscoveryReaches) {
    const LinkbayFamily* pFamily = LinkbayFindFamily(Driver().nDeviceType);
    ASSERT_NE(pFamily, nullptr);
    EXPECT_EQ(FindFamilyDriver(Driver().nDeviceType), &Driver());
    // Discovery takes the first row whose keyword the value contains.
    for (const LinkbayFamily& earlier : kLinkbayFamilies) {
        if (&earlier == pFamily) break;
        EXPECT_EQ(std::strstr(pFamily->pszKeyword, earlier.pszKeyword), nullptr) << pFamily->pszKeyword;
        if (pFamily->pszLibrary != nullptr && earlier.pszLibrary != nullptr) {
            EXPECT_EQ(std::strstr(pFamily->pszLibrary, earlier.pszLibrary), nullptr) << pFamily->pszLibrary;
        }
    }
}

// Codes that two rows share on purpose (an alias, or a row that repeats a
// word triple); any other code stands once.
struct SharedCode {
    int32_t nDeviceType;
    int32_t nCode;
};
const SharedCode kSharedCodes[] = {
    {LINKBAY_DEVICE_ZEPH, 30},   // SET_GAIN_CHANNEL, SET_GAIN_ADJUSTMENT
    {LINKBAY_DEVICE_PELLUX, 93}, {LINKBAY_DEVICE_TAVO, 93},    // SHOW_ACTIVE, SHOW_ACTIVE_DEVICES
    {LINKBAY_DEVICE_PELLUX, 201}, {LINKBAY_DEVICE_TAVO, 201},  // SHOW_NUCLIDE twice
};

bool MayShare(int32_t nDeviceType, int32_t nCode) {
    for (const SharedCode& shared : kSharedCodes) {
        if (shared.nDeviceType == nDeviceType && shared.nCode == nCode) return true;
    }
    return false;
}

TEST_P(EveryFamily, CommandTablesHoldTheirVerbsAndDistinctCodesWithinTheRangeTable) {
    const CommandSet& set = Set();
    for (int32_t i = 0; i < set.nCommandsA; ++i) EXPECT_EQ(set.pCommandsA[i].nVerb, set.nVerbA);
    for (int32_t i = 0; i < set.nCommandsB; ++i) EXPECT_EQ(set.pCommandsB[i].nVerb, set.nVerbB);
    for (int32_t i = 0; i < set.nCommandsC; ++i) {
        EXPECT_NE(set.pCommandsC[i].nVerb, set.nVerbA);
        EXPECT_NE(set.pCommandsC[i].nVerb, set.nVerbB);
    }
    std::set<int32_t> codes;
    for (const CommandEntry* pRow : RowsOf(set)) {
        SCOPED_TRACE(pRow->nCode);
        EXPECT_TRUE(codes.insert(pRow->nCode).second || MayShare(Driver().nDeviceType, pRow->nCode))
            << "code twice";
        EXPECT_GT(pRow->nCode, 0);
        EXPECT_LE(pRow->nMinArgs, pRow->nMaxArgs);
        EXPECT_LE(pRow->nMaxArgs, kMaxArgSlots);
        for (int32_t i = 0; i < pRow->nMaxArgs; ++i) {
            ASSERT_LT(pRow->range[i], set.nRanges) << "slot " << i;
            EXPECT_LE(set.pRanges[pRow->range[i]].dMin, set.pRanges[pRow->range[i]].dMax);
        }
    }
}

// A keyword an earlier one claims at its shortest form is listed in
// kShadowedAbbreviations; any other must be reached there, and its full
// word must be reached always.
struct Shadowed {
    int32_t nDeviceType;
    const char* pszAbbreviation;
    const char* pszWordReached;
};
const Shadowed kShadowedAbbreviations[] = {
    {LINKBAY_DEVICE_PELLUX, "FLA", "FLATTOP"},  // not FLASH
    {LINKBAY_DEVICE_TAVO, "FLA", "FLATTOP"},
};

void ExpectWordsReached(int32_t nDeviceType, const WordEntry* pTable, int32_t nCount) {
    for (int32_t i = 0; i < nCount; ++i) {
        const WordEntry& word = pTable[i];
        SCOPED_TRACE(word.pszWord);
        EXPECT_EQ(TableCI::LookupWord(pTable, nCount, word.pszWord), word.nId);
        const std::string shortest = std::string(word.pszWord).substr(0, static_cast<size_t>(word.nMinLen));
        const int32_t nReached = TableCI::LookupWord(pTable, nCount, shortest.c_str());
        if (nReached == word.nId) continue;
        bool bListed = false;
        for (const Shadowed& s : kShadowedAbbreviations) {
            bListed = bListed || (s.nDeviceType == nDeviceType && shortest == s.pszAbbreviation &&
                                  nReached == TableCI::LookupWord(pTable, nCount, s.pszWordReached));
        }
        EXPECT_TRUE(bListed) << shortest << " reaches id " << nReached;
    }
}

TEST_P(EveryFamily, EveryKeywordIsReachedAtItsShortestForm) {
    const CommandSet& set = Set();
    ExpectWordsReached(Driver().nDeviceType, set.pVerbs, set.nVerbs);
    ExpectWordsReached(Driver().nDeviceType, set.pNouns, set.nNouns);
    ExpectWordsReached(Driver().nDeviceType, set.pModifiers, set.nModifiers);
}

// A row whose word triple stood earlier cannot be reached; every other row
// parses to its code with its fewest arguments.
TEST_P(EveryFamily, EveryCommandWordParsesToItsRowsCode) {
    const CommandSet& set = Set();
    std::set<std::string> seen;
    for (const CommandEntry* pRow : RowsOf(set)) {
        const std::string line = LineOf(set, *pRow);
        const std::string word = line.substr(0, line.find(' '));
        if (!seen.insert(word).second) continue;
        const Parsed out = Parse(set, line);
        EXPECT_TRUE(out.bOk && out.nCode == pRow->nCode)
            << line << ": code " << out.nCode << " want " << pRow->nCode << ", " << out.nMac << "/" << out.nMic;
    }
}

std::string FamilyName(const ::testing::TestParamInfo<int32_t>& info) {
    return LinkbayFindFamily(kFamilyDrivers[info.param].nDeviceType)->pszKeyword;
}

INSTANTIATE_TEST_SUITE_P(Registry, EveryFamily, ::testing::Range(0, kFamilyDriverCount), FamilyName);

// Commands the vocabulary has and the numbered-command instruments take no
// action for (READ, SET_CONFIGURATION_UART, SHOW_MARKER, TEST_PZADJUST,
// WRITE and the flash file transfers): an independent list.
const int32_t kMmcmdWithoutAction[] = {35, 42, 130, 173, 174, 176, 177, 178, 179};

bool HasNoAction(int32_t nDeviceType, int32_t nCode) {
    if (nDeviceType != LINKBAY_DEVICE_TAVO && nDeviceType != LINKBAY_DEVICE_PELLUX) return false;
    for (int32_t n : kMmcmdWithoutAction) {
        if (n == nCode) return true;
    }
    return false;
}

// Both directions, for every family with a command translation: a code with
// an action has a command, and a command has an action unless listed.
TEST(FamilyDispatch, HasARowForExactlyTheCommandCodes) {
    int32_t nTranslated = 0;
    for (int32_t f = 0; f < kFamilyDriverCount; ++f) {
        const FamilyDriver& driver = kFamilyDrivers[f];
        if (driver.pfnHasAction == nullptr) continue;
        ++nTranslated;
        std::set<int32_t> codes;
        for (const CommandEntry* pRow : RowsOf(*driver.pCommandSet)) codes.insert(pRow->nCode);
        for (int32_t nCode = -1; nCode <= 1024; ++nCode) {
            EXPECT_EQ(driver.pfnHasAction(nCode), codes.count(nCode) == 1 && !HasNoAction(driver.nDeviceType, nCode))
                << LinkbayFindFamily(driver.nDeviceType)->pszKeyword << " code " << nCode;
        }
    }
    EXPECT_GT(nTranslated, 0);
}

// ---- against an independent list ------------------------------------------------

// Rows per table, in set order: verbs, nouns, modifiers, ranges, A, B, C.
struct Counts {
    int32_t nDeviceType;
    int32_t n[7];
};
const Counts kExpectedCounts[] = {
    {LINKBAY_DEVICE_KORV, {12, 33, 18, 16, 24, 42, 20}},
    {LINKBAY_DEVICE_ZEPH, {12, 41, 29, 21, 37, 56, 27}},
    {LINKBAY_DEVICE_TAVO, {24, 64, 66, 34, 89, 126, 93}},
    {LINKBAY_DEVICE_PELLUX, {24, 64, 66, 34, 89, 126, 93}},
    {LINKBAY_DEVICE_GENERIC, {0, 0, 0, 0, 0, 0, 0}},
};

TEST(FamilyCommandSets, HaveTheRowCountsOfTheIndependentList) {
    for (const Counts& expected : kExpectedCounts) {
        const CommandSet& set = *FindFamilyDriver(expected.nDeviceType)->pCommandSet;
        const int32_t actual[7] = {set.nVerbs, set.nNouns, set.nModifiers, set.nRanges,
                                   set.nCommandsA, set.nCommandsB, set.nCommandsC};
        for (int i = 0; i < 7; ++i) EXPECT_EQ(actual[i], expected.n[i]) << expected.nDeviceType << " table " << i;
    }
}

// Lines with their outcome: the code, or the refusal (131/128+slot, 131/132).
struct Spot {
    int32_t nDeviceType;
    const char* pszLine;
    int32_t nCode;  // 0: refused with nMic
    int32_t nMic;
};
const Spot kSpots[] = {
    {LINKBAY_DEVICE_KORV, "SHOW_VERS", 91, 0},
    {LINKBAY_DEVICE_KORV, "SHOW_CONF_MASK", 55, 0},
    {LINKBAY_DEVICE_KORV, "SET_GAIN_FINE 4095", 26, 0},
    {LINKBAY_DEVICE_KORV, "SET_GAIN_FINE 4096", 0, kMicArgRangeBase},
    {LINKBAY_DEVICE_KORV, "SET_DATE 31,12,99", 22, 0},
    {LINKBAY_DEVICE_KORV, "SET_DATE 31,13,99", 0, kMicArgRangeBase + 1},
    {LINKBAY_DEVICE_KORV, "SET_HV -5000", 30, 0},
    {LINKBAY_DEVICE_KORV, "SET_ROI 1", 0, kMicArgCount},
    {LINKBAY_DEVICE_KORV, "START 65535", 94, 0},
    {LINKBAY_DEVICE_ZEPH, "SHOW_VERS", 122, 0},
    {LINKBAY_DEVICE_ZEPH, "RESET_REMOTE", 26, 0},
    {LINKBAY_DEVICE_ZEPH, "TERMINAL", 128, 0},
    {LINKBAY_DEVICE_ZEPH, "INITIALIZE_GAIN_STABILIZATION", 19, 0},
    {LINKBAY_DEVICE_TAVO, "CLEAR_NUCLIDE_ALL", 208, 0},
    {LINKBAY_DEVICE_TAVO, "VERIFY_SHAPING_FLATTOP 10", 936, 0},
    {LINKBAY_DEVICE_TAVO, "READ_CONFIGURATION 256", 0, kMicArgRangeBase},
    {LINKBAY_DEVICE_PELLUX, "READ_CONFIGURATION 0", 267, 0},
    {LINKBAY_DEVICE_PELLUX, "EEPROM", 177, 0},
};

TEST(FamilyCommandSets, SpotRowsGiveTheCodesAndRefusalsOfTheIndependentList) {
    for (const Spot& spot : kSpots) {
        const Parsed out = Parse(*FindFamilyDriver(spot.nDeviceType)->pCommandSet, spot.pszLine);
        if (spot.nCode != 0) {
            EXPECT_TRUE(out.bOk && out.nCode == spot.nCode) << spot.pszLine << ": " << out.nCode;
        } else {
            EXPECT_TRUE(!out.bOk && out.nMac == kMacCommandError && out.nMic == spot.nMic)
                << spot.pszLine << ": " << out.nMac << "/" << out.nMic;
        }
    }
}

}  // namespace
}  // namespace linkbay
