#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "cmdlang/ci_base.h"
#include "cmdlang/sample_command_set.h"
#include "cmdlang/upper_case.h"
#include "platform/platform.h"

namespace linkbay {
namespace {

class SampleCI : public CIBase {
public:
    SampleCI() : CIBase(sample::kCommandSet) {}
    using CIBase::CopyQuoted;
};

struct Outcome {
    bool bOk;
    int32_t nMac;
    int32_t nMic;
    ParsedCommand cmd;
};

Outcome Parse(const CIBase& ci, const char* pszLine) {
    Outcome out;
    std::memset(&out, 0xA5, sizeof out);  // every field must be rewritten
    out.bOk = ci.ParseCommand(pszLine, out.cmd, out.nMac, out.nMic);
    return out;
}

struct ErrorCase {
    std::string line;
    bool bOk;
    int32_t nMac, nMic, nCode;
};

TEST(ParseCommand, AcceptsOrReportsTheErrorPair) {
    const std::string longWordLine = std::string("SHOW_VERSION_") + sample::kLongWord;
    const ErrorCase cases[] = {
        {"set_gain_ch 100", true, 0, 0, 51},
        {"SE_GAIN_CH 1", true, 0, 0, 51},       // verb at its minimum length
        {"S_GAIN_CH 1", false, 129, 1, 0},       // one shorter
        {"SET_GAIN_COA 5", true, 0, 0, 53},
        {"SET_GAIN_CO 1", false, 129, 4, 0},
        {"SHOW_VERS", true, 0, 0, 70},
        {"SHOW_VER", false, 129, 2, 0},
        {"SHOW_VERSIONS", false, 129, 2, 0},     // longer than the keyword
        {"SHOW_CONF_MASK", true, 0, 0, 71},
        {"SHOW_CONF_MASK_X", false, 129, 4, 0},  // the modifier keeps its underscores
        {"SHOW_ACTIVE", true, 0, 0, 93},
        {"SHOW_ACTIVE_DEV", true, 0, 0, 93},
        {"ST", true, 0, 0, 1},                   // table order decides the prefix
        {"STO", true, 0, 0, 2},
        {"STOPX", false, 129, 1, 0},
        {"SET_GAIN_CH 2.5", true, 0, 0, 51},
        {"SET_GAIN_CH -1", false, 131, 128, 0},
        {"SET_GAIN_CH 40000", false, 131, 128, 0},
        {"SET_GAIN_CH 32767", true, 0, 0, 51},
        {"SET_GAIN_CH 1,2", false, 131, 132, 0},
        {"SET_GAIN_CH", false, 131, 132, 0},
        {"SET_GAIN_CH ", false, 131, 132, 0},
        {"SET_GAIN 5", false, 131, 133, 0},
        {"SET_DATA", false, 131, 133, 0},        // its row is in the wrong table
        {"SHOW_", false, 131, 133, 0},           // empty noun is no noun
        {"SHOW__MASK", false, 131, 133, 0},      // nor between two underscores
        {"SEX_GAIN_CH 1", false, 129, 1, 0},
        {"SET_GAINX_CH 1", false, 129, 2, 0},
        {"SET_GAIN_XYZ 1", false, 129, 4, 0},
        {"SEX_GAIN_XYZ", false, 129, 5, 0},
        {"SEX_GAINX_XYZ", false, 129, 7, 0},
        {"_GAIN 1", false, 129, 133, 0},
        {"", false, 0, 0, 0},
        {" \t\r\n ", false, 0, 0, 0},
        {"  ,SET", false, 129, 133, 0},
        {"SET_WINDOW,0,100", false, 131, 132, 0},
        {"SET_WINDOW 10,,20", false, 131, 132, 0},
        {"SET_WINDOW 10,", true, 0, 0, 924},
        {"SET_WINDOW 10,1001", false, 131, 129, 0},
        {"SET_WINDOW 1,2,3,4,5,6", false, 131, 132, 0},
        {"SET_GAIN_CH\t100", false, 129, 4, 0},  // a tab does not end the word
        {"  SHOW_VERSION\r\n", true, 0, 0, 70},
        {"SET_GAIN_FINE 4294967295", true, 0, 0, 52},
        {"SET_GAIN_COARSE -100", true, 0, 0, 53},
        {"LOAD_DATA 1e999", false, 131, 128, 0},
        {"LOAD_DATA 1,2,3,-1e999", false, 131, 131, 0},
        {longWordLine, true, 0, 0, 72},
        {longWordLine + "ZZZ", true, 0, 0, 72},  // cut to 63 before the lookup
        {longWordLine.substr(0, 62) + "Z", false, 129, 4, 0},
        {std::string(100000, 'A'), false, 129, 1, 0},
        {std::string("SET_NAME \"") + std::string(5000, '\\'), true, 0, 0, 60},
    };
    SampleCI ci;
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 80));
        const Outcome out = Parse(ci, c.line.c_str());
        EXPECT_EQ(out.bOk, c.bOk);
        EXPECT_EQ(out.nMac, c.nMac);
        EXPECT_EQ(out.nMic, c.nMic);
        EXPECT_EQ(out.cmd.nCode, c.nCode);
    }
}

constexpr uint8_t F = kArgNotUnsigned32;
const double kInf = std::numeric_limits<double>::infinity();

struct ArgCase {
    std::string line;
    int32_t nArgs;
    uint32_t iArg[4];
    double dArg[4];
    uint8_t flags[4];
};

TEST(ParseCommand, ConvertsArguments) {
    const ArgCase cases[] = {
        {"SET_GAIN_CH 100", 1, {100}, {100.0}, {0}},
        {"SET_GAIN_CH 2.5", 1, {2}, {2.5}, {F}},
        {"SET_GAIN_CH -1", 1, {1}, {-1.0}, {F}},
        {"LOAD_DATA 1e3", 1, {1000}, {1000.0}, {0}},
        {"LOAD_DATA 4294967295", 1, {4294967295u}, {4294967295.0}, {0}},
        {"LOAD_DATA 4294967296", 1, {0}, {0.0}, {0}},
        {"LOAD_DATA 4294967297", 1, {1}, {1.0}, {0}},
        {"LOAD_DATA 4294967296.0", 1, {0}, {4294967296.0}, {F}},
        {"LOAD_DATA 4294967301.5", 1, {5}, {4294967301.5}, {F}},
        {"LOAD_DATA 1e19", 1, {0}, {1e19}, {F}},
        {"LOAD_DATA -2.7", 1, {2}, {-2.7}, {F}},
        {"LOAD_DATA -0", 1, {0}, {-0.0}, {0}},
        {"LOAD_DATA 0x10", 1, {0}, {0.0}, {0}},
        {"LOAD_DATA +7", 1, {7}, {7.0}, {0}},
        {"LOAD_DATA 12abc", 1, {12}, {12.0}, {0}},
        {"LOAD_DATA 10 20", 1, {10}, {10.0}, {0}},
        {"LOAD_DATA 1.5e1x", 1, {15}, {15.0}, {0}},
        {"LOAD_DATA 0.1", 1, {0}, {0.1}, {F}},
        {"LOAD_DATA 1e", 1, {1}, {1.0}, {0}},
        {"LOAD_DATA .", 1, {0}, {0.0}, {0}},
        {"LOAD_DATA -inf", 1, {0}, {0.0}, {0}},
        {"LOAD_DATA 1e999", 1, {0}, {kInf}, {F}},
        {"LOAD_DATA -1e999", 1, {0}, {-kInf}, {F}},
        {"LOAD_DATA 1e-999", 1, {0}, {0.0}, {0}},
        {"LOAD_DATA 1,,3", 3, {1, 0, 3}, {1, 0, 3}, {0}},
        {"LOAD_DATA,,", 2, {0}, {0}, {0}},
        {"LOAD_DATA 3 ,\t4", 2, {3, 4}, {3, 4}, {0}},
        {"LOAD_DATA \"s\",5", 1, {0, 5}, {0, 5}, {0}},  // a string takes slot 0
        {"LOAD_DATA 1,2,3,4,5", 4, {1, 2, 3, 4}, {1, 2, 3, 4}, {0}},
        {"LOAD_DATA" + std::string(252, ' ') + "1,2", 2, {1, 2}, {1, 2}, {0}},
        {"LOAD_DATA" + std::string(253, ' ') + "1,2", 1, {1}, {1}, {0}},  // past 255
    };
    SampleCI ci;
    for (const ArgCase& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        const Outcome out = Parse(ci, c.line.c_str());
        EXPECT_EQ(out.cmd.nArgs, c.nArgs);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(out.cmd.iArg[i], c.iArg[i]) << "slot " << i;
            EXPECT_EQ(out.cmd.dArg[i], c.dArg[i]) << "slot " << i;
            EXPECT_EQ(std::signbit(out.cmd.dArg[i]), std::signbit(c.dArg[i])) << "slot " << i;
            EXPECT_EQ(out.cmd.flags[i], c.flags[i]) << "slot " << i;
        }
    }
}

struct StringCase {
    std::string line;
    int32_t nStrings;
    std::string s1, s2;
    int32_t nArgs;
};

TEST(ParseCommand, KeepsQuotedStrings) {
    const StringCase cases[] = {
        {R"(SET_NAME "a\"b\$")", 1, "a\"b\x1b", "", 0},
        {R"(SET_NAME "\n\N\r\R\t\T\\\q")", 1, "\n\n\r\r\t\t\\q", "", 0},
        {R"(set_name "MiXed, case",7)", 1, "MiXed, case", "", 1},
        {R"(SET_NAME "one","two","three")", 2, "one", "three", 0},
        {R"(SET_NAME "ab"xyz,5)", 1, "ab", "", 1},
        {R"(SET_NAME "open)", 1, "open", "", 0},
        {R"(SET_NAME "end\)", 1, "end", "", 0},
        {"SET_NAME \"" + std::string(100, 'x') + "\",\"" + std::string(200, 'y') + "\"", 2,
         std::string(80, 'x'), std::string(128, 'y'), 0},
        // Once the field is full a backslash is plain text, so its quote closes.
        {"SET_NAME \"" + std::string(80, 'x') + "\\\",5", 1, std::string(80, 'x'), "", 1},
    };
    SampleCI ci;
    for (const StringCase& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        const Outcome out = Parse(ci, c.line.c_str());
        EXPECT_EQ(out.cmd.nStrings, c.nStrings);
        EXPECT_EQ(out.cmd.szString1, c.s1);
        EXPECT_EQ(out.cmd.szString2, c.s2);
        EXPECT_EQ(out.cmd.nArgs, c.nArgs);
    }
}

TEST(CopyQuoted, CountsWhatItConsumes) {
    struct { const char* src; int32_t nSize; const char* dest; int32_t nUsed; } cases[] = {
        {R"("abc"tail)", 81, "abc", 5},
        {R"("abc)", 81, "abc", 4},
        {R"("a\"b")", 81, "a\"b", 6},
        {R"("abc\)", 81, "abc", 5},
        {R"("abcdef")", 4, "abc", 8},
        {R"("ab\"c")", 3, "ab", 5},
        {R"("abc")", 1, "", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.src);
        char dest[82];
        std::memset(dest, '#', sizeof dest);
        EXPECT_EQ(SampleCI::CopyQuoted(c.src, dest, c.nSize), c.nUsed);
        EXPECT_STREQ(dest, c.dest);
        EXPECT_EQ(dest[c.nSize], '#');  // nothing past the field
    }
}

TEST(ParseCommand, EmptyCommandSetKnowsNoWord) {
    const CIBase ci(CommandSet{});
    struct { const char* line; int32_t nMac, nMic; } cases[] = {
        {"SHOW_VERSION", 129, 3}, {"START 1", 129, 1}, {"SET_A_B", 129, 7},
        {"_X", 129, 133}, {"  ", 0, 0}, {nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "(null)");
        const Outcome out = Parse(ci, c.line);
        EXPECT_FALSE(out.bOk);
        EXPECT_EQ(out.nMac, c.nMac);
        EXPECT_EQ(out.nMic, c.nMic);
    }
}

// The system's CharUpperBuffA is the reference; the Windows build runs this
// under Wine, where it is the real one.
TEST(UpperCase, EveryByteAsCharUpperBuffAGivesIt) {
    for (int n = 0; n < 256; ++n) {
        char cSystem = static_cast<char>(n);
        ASSERT_EQ(CharUpperBuffA(&cSystem, 1), 1u);
        EXPECT_EQ(UpperCaseCp1252(static_cast<uint8_t>(n)), static_cast<uint8_t>(cSystem)) << "byte " << n;
    }
    char szWord[] = "show_\xe9t\xe9\xff";
    UpperCaseCp1252(szWord, 5);
    EXPECT_STREQ(szWord, "SHOW_\xe9t\xe9\xff");  // the count given, no further
}

}  // namespace
}  // namespace linkbay
