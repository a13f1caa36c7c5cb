// Decimal text read as the 32-bit runtime reads it, on every platform. Where
// long has 32 bits (the Windows builds) the runtime itself is the reference.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "cmdlang/numbers.h"

namespace linkbay {
namespace {

struct NumberCase {
    const char* pszText;
    uint32_t dwUnsigned;
    int32_t nSigned;
    size_t nEnd;  // characters read
};

const NumberCase kCases[] = {
    {"4294967295", 0xFFFFFFFFu, INT32_MAX, 10},
    {"4294967296", 0xFFFFFFFFu, INT32_MAX, 10},
    {"99999999999999999999999", 0xFFFFFFFFu, INT32_MAX, 23},
    {"2147483648", 0x80000000u, INT32_MAX, 10},
    {"-2147483648", 0x80000000u, INT32_MIN, 11},
    {"-2147483649", 0x7FFFFFFFu, INT32_MIN, 11},
    {"-5", 0xFFFFFFFBu, -5, 2},
    {" \t+12 34", 12u, 12, 5},
    {"0012x", 12u, 12, 4},
    {"", 0u, 0, 0},
    {"  -", 0u, 0, 0},
    {"x1", 0u, 0, 0},
};

TEST(Numbers, ReadAsThe32BitRuntimeReadsThem) {
    for (const NumberCase& c : kCases) {
        SCOPED_TRACE(std::string("\"") + c.pszText + "\"");
        const char* pEnd = nullptr;
        EXPECT_EQ(ToUnsigned32(c.pszText, &pEnd), c.dwUnsigned);
        EXPECT_EQ(static_cast<size_t>(pEnd - c.pszText), c.nEnd);
        EXPECT_EQ(ToSigned32(c.pszText, &pEnd), c.nSigned);
        EXPECT_EQ(static_cast<size_t>(pEnd - c.pszText), c.nEnd);
        if (sizeof(long) == 4) {
            EXPECT_EQ(static_cast<uint32_t>(std::strtoul(c.pszText, nullptr, 10)), c.dwUnsigned);
            EXPECT_EQ(static_cast<int32_t>(std::strtol(c.pszText, nullptr, 10)), c.nSigned);
        }
    }
}

}  // namespace
}  // namespace linkbay
