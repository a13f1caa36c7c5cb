#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "cmdlang/records.h"

namespace linkbay {
namespace {

using Writer = std::function<bool(int32_t, char*, int32_t&)>;

struct RecordCase {
    const char* name;
    Writer write;
    std::string expected;
};

const double kInf = std::numeric_limits<double>::infinity();

// A writer with its values bound, called with the buffer only.
template <typename Format, typename... Values>
Writer Bind(Format pfnFormat, Values... values) {
    return [=](int32_t nSize, char* pszBuf, int32_t& nLen) { return pfnFormat(nSize, pszBuf, nLen, values...); };
}

// Each writer must fit a buffer of exactly length + 1 and refuse one byte less,
// touching nothing when it refuses.
TEST(Records, WriteExactBytesAndRefuseSmallBuffers) {
    const RecordCase cases[] = {
        {"C 2048", Bind(FormatC, 2048), "$C02048101\n"},
        {"C masked", Bind(FormatC, 65541), "$C00005092\n"},
        {"A 5", Bind(FormatA, 5), "$A005250\n"},
        {"A masked", Bind(FormatA, 261), "$A005250\n"},
        {"G 1000", Bind(FormatG, 1000), "$G0000001000076\n"},
        {"G max", Bind(FormatG, 4294967295u), "$G4294967295132\n"},
        {"D", Bind(FormatD, 100, 200), "$D0010000200075\n"},
        {"D masked", Bind(FormatD, 65535, 65536), "$D6553500000096\n"},
        {"N", Bind(FormatN, 1, 2, 3), "$N001002003040\n"},
        {"N wide", Bind(FormatN, 2024, 12, 1000), "$N024012000043\n"},
        {"M", Bind(FormatM, 1000, 990, 2, 1), "$M000000100000000009900000200001039\n"},
        {"M masked", Bind(FormatM, 0, 4294967295u, 70000, 65535), "$M000000000042949672950446465535116\n"},
        {"J", Bind(FormatJ, "abc"), "$Jabc148\n"},
        {"J empty", Bind(FormatJ, ""), "$J110\n"},
        {"J high bytes", Bind(FormatJ, "\xff\xfe"), "$J\xff\xfe" "107\n"},
        {"F", Bind(FormatF, "abc"), "$Fabc\n"},
        {"F empty", Bind(FormatF, ""), "$F\n"},
        {"I true", Bind(FormatI, true), "$IT\n"},
        {"I false", Bind(FormatI, false), "$IF\n"},
        {"ListU", Bind(FormatListU, "", 7), " 00000000007\n"},
        {"ListUU", Bind(FormatListUU, "CONF_MASK", 2147483647u, 2147483648u), "CONF_MASK 02147483647 02147483648\n"},
        {"ListUUUU", Bind(FormatListUUUU, "L", 1, 2, 3, 4294967295u),
         "L 00000000001 00000000002 00000000003 04294967295\n"},
        {"ListG", Bind(FormatListG, "GAIN_FINE", 0.5), "GAIN_FINE 0000000000000.5\n"},
        {"ListGG", Bind(FormatListGG, "G", 1.23456789e8, -1e-5), "G 01.2345679e+008 -000000001e-005\n"},
        {"ListGGG", Bind(FormatListGGG, "G", 0.0, 12345678, 1e8),
         "G 000000000000000 000000012345678 0000000001e+008\n"},
        {"ListGGG extremes", Bind(FormatListGGG, "G", -1.5e-300, kInf, -kInf),
         "G -0000001.5e-300             inf            -inf\n"},
        {"ListD", Bind(FormatListD, "D", -5), "D -0000000005\n"},
        {"ListD min", Bind(FormatListD, "D", INT32_MIN), "D -2147483648\n"},
        {"ListD6", Bind(FormatListD6, "PZ", 42), "PZ 000042\n"},
        {"ListD6 low", Bind(FormatListD6, "PZ", -99999), "PZ -99999\n"},
        // Outside -99999..999999 the value is written in full.
        {"ListD6 wide", Bind(FormatListD6, "PZ", 1234567), "PZ 1234567\n"},
        {"ListD6 wide low", Bind(FormatListD6, "PZ", -100000), "PZ -100000\n"},
    };
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t nLength = static_cast<int32_t>(c.expected.size());
        char buf[128];

        std::memset(buf, '#', sizeof buf);
        int32_t nLen = -1;
        ASSERT_TRUE(c.write(nLength + 1, buf, nLen));
        EXPECT_EQ(nLen, nLength);
        EXPECT_EQ(std::string(buf, nLength), c.expected);
        EXPECT_EQ(buf[nLength], '\0');
        EXPECT_EQ(buf[nLength + 1], '#');

        for (int32_t nSize : {nLength, 1, 0, -1}) {
            std::memset(buf, '#', sizeof buf);
            nLen = -1;
            EXPECT_FALSE(c.write(nSize, buf, nLen)) << "size " << nSize;
            EXPECT_EQ(nLen, -1);
            EXPECT_EQ(buf[0], '#');
        }
        EXPECT_FALSE(c.write(1000, nullptr, nLen));
    }
}

TEST(Records, TextLengthDecidesTheSizeTest) {
    const std::string text(300, 't');
    char buf[400];
    int32_t nLen = 0;
    EXPECT_FALSE(FormatJ(306, buf, nLen, text.c_str()));
    ASSERT_TRUE(FormatJ(307, buf, nLen, text.c_str()));
    EXPECT_EQ(nLen, 306);
    EXPECT_FALSE(FormatF(303, buf, nLen, text.c_str()));
    EXPECT_FALSE(FormatListG(317, buf, nLen, text.c_str(), 1.0));
    ASSERT_TRUE(FormatListG(318, buf, nLen, text.c_str(), 1.0));
    EXPECT_EQ(nLen, 317);
}

TEST(Records, ChecksumIsTheByteSumModulo256) {
    struct { const char* text; uint32_t nSum; } cases[] = {
        {"$C02048", 101}, {"", 0}, {nullptr, 0}, {"\xff\xff", 254}, {"\x80", 128},
    };
    for (const auto& c : cases) EXPECT_EQ(RecordChecksum(c.text), c.nSum);
}

}  // namespace
}  // namespace linkbay
