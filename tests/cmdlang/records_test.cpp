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

// Each writer must fit a buffer of exactly length + 1 and refuse one byte less,
// touching nothing when it refuses.
TEST(Records, WriteExactBytesAndRefuseSmallBuffers) {
    const RecordCase cases[] = {
        {"C 2048", [](int32_t n, char* b, int32_t& l) { return FormatC(n, b, l, 2048); }, "$C02048101\n"},
        {"C masked", [](int32_t n, char* b, int32_t& l) { return FormatC(n, b, l, 65541); }, "$C00005092\n"},
        {"A 5", [](int32_t n, char* b, int32_t& l) { return FormatA(n, b, l, 5); }, "$A005250\n"},
        {"A masked", [](int32_t n, char* b, int32_t& l) { return FormatA(n, b, l, 261); }, "$A005250\n"},
        {"G 1000", [](int32_t n, char* b, int32_t& l) { return FormatG(n, b, l, 1000); }, "$G0000001000076\n"},
        {"G max", [](int32_t n, char* b, int32_t& l) { return FormatG(n, b, l, 4294967295u); }, "$G4294967295132\n"},
        {"D", [](int32_t n, char* b, int32_t& l) { return FormatD(n, b, l, 100, 200); }, "$D0010000200075\n"},
        {"D masked", [](int32_t n, char* b, int32_t& l) { return FormatD(n, b, l, 65535, 65536); }, "$D6553500000096\n"},
        {"N", [](int32_t n, char* b, int32_t& l) { return FormatN(n, b, l, 1, 2, 3); }, "$N001002003040\n"},
        {"N wide", [](int32_t n, char* b, int32_t& l) { return FormatN(n, b, l, 2024, 12, 1000); }, "$N024012000043\n"},
        {"M", [](int32_t n, char* b, int32_t& l) { return FormatM(n, b, l, 1000, 990, 2, 1); },
         "$M000000100000000009900000200001039\n"},
        {"M masked", [](int32_t n, char* b, int32_t& l) { return FormatM(n, b, l, 0, 4294967295u, 70000, 65535); },
         "$M000000000042949672950446465535116\n"},
        {"J", [](int32_t n, char* b, int32_t& l) { return FormatJ(n, b, l, "abc"); }, "$Jabc148\n"},
        {"J empty", [](int32_t n, char* b, int32_t& l) { return FormatJ(n, b, l, ""); }, "$J110\n"},
        {"J high bytes", [](int32_t n, char* b, int32_t& l) { return FormatJ(n, b, l, "\xff\xfe"); }, "$J\xff\xfe" "107\n"},
        {"F", [](int32_t n, char* b, int32_t& l) { return FormatF(n, b, l, "abc"); }, "$Fabc\n"},
        {"F empty", [](int32_t n, char* b, int32_t& l) { return FormatF(n, b, l, ""); }, "$F\n"},
        {"I true", [](int32_t n, char* b, int32_t& l) { return FormatI(n, b, l, true); }, "$IT\n"},
        {"I false", [](int32_t n, char* b, int32_t& l) { return FormatI(n, b, l, false); }, "$IF\n"},
        {"ListU", [](int32_t n, char* b, int32_t& l) { return FormatListU(n, b, l, "", 7); }, " 00000000007\n"},
        {"ListUU", [](int32_t n, char* b, int32_t& l) { return FormatListUU(n, b, l, "CONF_MASK", 2147483647u, 2147483648u); },
         "CONF_MASK 02147483647 02147483648\n"},
        {"ListUUUU", [](int32_t n, char* b, int32_t& l) { return FormatListUUUU(n, b, l, "L", 1, 2, 3, 4294967295u); },
         "L 00000000001 00000000002 00000000003 04294967295\n"},
        {"ListG", [](int32_t n, char* b, int32_t& l) { return FormatListG(n, b, l, "GAIN_FINE", 0.5); },
         "GAIN_FINE 0000000000000.5\n"},
        {"ListGG", [](int32_t n, char* b, int32_t& l) { return FormatListGG(n, b, l, "G", 1.23456789e8, -1e-5); },
         "G 01.2345679e+008 -000000001e-005\n"},
        {"ListGGG", [](int32_t n, char* b, int32_t& l) { return FormatListGGG(n, b, l, "G", 0.0, 12345678, 1e8); },
         "G 000000000000000 000000012345678 0000000001e+008\n"},
        {"ListGGG extremes", [](int32_t n, char* b, int32_t& l) { return FormatListGGG(n, b, l, "G", -1.5e-300, kInf, -kInf); },
         "G -0000001.5e-300             inf            -inf\n"},
        {"ListD", [](int32_t n, char* b, int32_t& l) { return FormatListD(n, b, l, "D", -5); }, "D -0000000005\n"},
        {"ListD min", [](int32_t n, char* b, int32_t& l) { return FormatListD(n, b, l, "D", INT32_MIN); }, "D -2147483648\n"},
        {"ListD6", [](int32_t n, char* b, int32_t& l) { return FormatListD6(n, b, l, "PZ", 42); }, "PZ 000042\n"},
        {"ListD6 low", [](int32_t n, char* b, int32_t& l) { return FormatListD6(n, b, l, "PZ", -99999); }, "PZ -99999\n"},
        // Outside -99999..999999 the value is written in full.
        {"ListD6 wide", [](int32_t n, char* b, int32_t& l) { return FormatListD6(n, b, l, "PZ", 1234567); }, "PZ 1234567\n"},
        {"ListD6 wide low", [](int32_t n, char* b, int32_t& l) { return FormatListD6(n, b, l, "PZ", -100000); }, "PZ -100000\n"},
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
