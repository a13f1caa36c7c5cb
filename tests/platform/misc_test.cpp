// Error texts, debug output, time and text helpers of the platform.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

struct MulDivCase {
    INT a, b, c, expected;
};

TEST(Misc, MulDivRoundsAndFailsAsWin32) {
    const MulDivCase kCases[] = {
        {10, 3, 4, 8},                    // 7.5 rounds up
        {-10, 3, 4, -8},                  // and away from zero below it
        {10, -3, 4, -8},
        {10, 3, -4, -8},
        {-10, -3, -4, -8},
        {7, 1, 2, 4},
        {5, 1, 3, 2},                     // 1.67
        {4, 1, 3, 1},                     // 1.33
        {0x40000000, 4, 2, -1},           // 2^31 does not fit
        {0x7fffffff, 1, 1, 0x7fffffff},
        {INT_MIN, 1, 1, -1},              // neither does -2^31
        {INT_MIN, 1, -1, -1},
        {123, 456, 0, -1},                // division by zero
        {1092 * 60 * 50, 100, 100, 3276000},
        {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff},  // 64-bit intermediate
    };
    for (const MulDivCase& c : kCases) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
    }
}

DWORD FixedTicks(void* pContext) { return *static_cast<DWORD*>(pContext); }

TEST(Misc, TickDifferencesSurviveTheWrap) {
    DWORD dwNow = 0xfffffc18u;  // 1000 ms before the wrap
    platform::SetTickSource(FixedTicks, &dwNow);
    const DWORD dwStart = GetTickCount();
    dwNow += 2500;  // wraps to 1500
    EXPECT_EQ(GetTickCount(), 1500u);
    EXPECT_EQ(GetTickCount() - dwStart, 2500u);
    platform::SetTickSource(nullptr, nullptr);
    const DWORD dwReal = GetTickCount();
    Sleep(30);
    EXPECT_GE(GetTickCount() - dwReal, 25u);
    EXPECT_LT(GetTickCount() - dwReal, 5000u);
}

TEST(Misc, TimeZoneBiasIsUtcMinusLocalStandardTime) {
    struct Zone {
        const char* pszTz;
        LONG bias;
        LONG daylightBias;
    };
    const Zone kZones[] = {{"UTC0", 0, 0}, {"EST5EDT", 300, -60}, {"CET-1CEST", -60, -60}, {"IST-5:30", -330, 0}};
    const char* pszOld = getenv("TZ");
    const std::string sOld = pszOld ? pszOld : "";
    for (const Zone& zone : kZones) {
        setenv("TZ", zone.pszTz, 1);
        TIME_ZONE_INFORMATION tzi{};
        const DWORD dwMode = GetTimeZoneInformation(&tzi);
        EXPECT_NE(dwMode, TIME_ZONE_ID_INVALID);
        EXPECT_EQ(tzi.Bias, zone.bias) << zone.pszTz;
        EXPECT_EQ(tzi.DaylightBias, zone.daylightBias) << zone.pszTz;
    }
    if (pszOld) setenv("TZ", sOld.c_str(), 1); else unsetenv("TZ");
    EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
}

TEST(Misc, CharUpperBuffConvertsExactlyTheCountGiven) {
    char szText[] = "show_vers 1,\xe9t\xe9\xff";
    EXPECT_EQ(CharUpperBuffA(szText, 5), 5u);
    EXPECT_STREQ(szText, "SHOW_vers 1,\xe9t\xe9\xff");
    EXPECT_EQ(CharUpperBuffA(szText, sizeof szText - 1), sizeof szText - 1);
    EXPECT_STREQ(szText, "SHOW_VERS 1,\xc9T\xc9\x9f");
    EXPECT_EQ(CharUpperBuffA(nullptr, 4), 0u);
}

struct MessageCase {
    DWORD dwCode;
    const char* pszText;
};

TEST(Misc, FormatMessageGivesTheSystemTextOnOneLine) {
    const MessageCase kCases[] = {
        {ERROR_SUCCESS, "The operation completed successfully. "},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified. "},
        {ERROR_ACCESS_DENIED, "Access is denied. "},
        {ERROR_INVALID_HANDLE, "The handle is invalid. "},
        {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected. "},
    };
    for (const MessageCase& c : kCases) {
        char szText[128];
        const DWORD cch = FormatMessageA(0x10FF, nullptr, c.dwCode, 0x0400, szText, sizeof szText, nullptr);
        EXPECT_STREQ(szText, c.pszText);
        EXPECT_EQ(cch, strlen(c.pszText));
    }
    char szText[128];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, szText, sizeof szText, nullptr), 19u);
    EXPECT_STREQ(szText, "Access is denied.\r\n");
    char szSmall[8] = "keep";
    EXPECT_EQ(FormatMessageA(0x10FF, nullptr, ERROR_ACCESS_DENIED, 0, szSmall, sizeof szSmall, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(FormatMessageA(0x10FF, nullptr, 0x0badf00d, 0, szText, sizeof szText, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

TEST(Misc, LastErrorIsPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD dwOther = 1;
    std::thread([&] { dwOther = GetLastError(); }).join();
    EXPECT_EQ(dwOther, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

void Collect(const char* pszText, void* pContext) {
    static_cast<std::vector<std::string>*>(pContext)->push_back(pszText);
}

TEST(Misc, DebugOutputGoesToCaptureOrConfiguredFile) {
    const std::string sDir = UseFreshEnvironment();
    const std::string sPath = sDir + "/debug.log";
    std::vector<std::string> captured;
    platform::SetDebugCapture(Collect, &captured);
    OutputDebugStringA("captured\r\n");
    OutputDebugStringA(nullptr);
    platform::SetDebugCapture(nullptr, nullptr);
    EXPECT_EQ(captured, std::vector<std::string>{"captured\r\n"});

    unsetenv("LINKBAY_DEBUG_OUTPUT");
    OutputDebugStringA("discarded\r\n");
    setenv("LINKBAY_DEBUG_OUTPUT", sPath.c_str(), 1);
    OutputDebugStringA("first\r\n");
    OutputDebugStringA("second\r\n");
    unsetenv("LINKBAY_DEBUG_OUTPUT");
    std::ifstream file(sPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "first\r\nsecond\r\n");
}

}  // namespace
}  // namespace test
}  // namespace linkbay
