// Error texts, arithmetic, text helpers, ticks and the last error: the same
// cases hold for the POSIX layer and for Win32 (the Windows build runs them
// under Wine). The cases that steer the layer through its test hooks or
// through POSIX variables are in misc_posix_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>

#include "platform/platform.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

TEST(Misc, MulDivRoundsAndFailsAsWin32) {
    struct MulDivCase {
        INT a, b, c, expected;
    };
    const MulDivCase kCases[] = {
        {10, 3, 4, 8},                    // 7.5 rounds up
        {-10, 3, 4, -8},                  // and away from zero below it
        {10, -3, 4, -8}, {10, 3, -4, -8}, {-10, -3, -4, -8}, {7, 1, 2, 4},
        {5, 1, 3, 2},                     // 1.67
        {4, 1, 3, 1},                     // 1.33
        {0x40000000, 4, 2, -1},           // 2^31 does not fit
        {0x7fffffff, 1, 1, 0x7fffffff}, {INT_MIN, 1, -1, -1}, {1092 * 60 * 50, 100, 100, 3276000},
        {INT_MIN, 1, 1, -1},              // neither does -2^31
        {123, 456, 0, -1},                // division by zero
        {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff},  // 64-bit intermediate
    };
    for (const MulDivCase& c : kCases) {
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
    }
}

TEST(Misc, CharUpperBuffConvertsExactlyTheCountGiven) {
    char szText[] = "show_vers 1,\xe9t\xe9\xff";
    EXPECT_EQ(CharUpperBuffA(szText, 5), 5u);
    EXPECT_STREQ(szText, "SHOW_vers 1,\xe9t\xe9\xff");
    EXPECT_EQ(CharUpperBuffA(szText, sizeof szText - 1), sizeof szText - 1);
    EXPECT_STREQ(szText, "SHOW_VERS 1,\xc9T\xc9\x9f");
    EXPECT_EQ(CharUpperBuffA(nullptr, 4), 0u);
}

TEST(Misc, FormatMessageGivesTheSystemTextOnOneLine) {
    const std::pair<DWORD, const char*> kCases[] = {
        {ERROR_SUCCESS, "The operation completed successfully. "},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified. "},
        {ERROR_ACCESS_DENIED, "Access is denied. "},
        {ERROR_INVALID_HANDLE, "The handle is invalid. "},
        {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected. "},
    };
    // Wine's message table words these texts differently from Windows
    // ("Access denied."); the buffer and error rules below hold there too.
    char szText[128];
    for (const auto& [dwCode, pszText] : kCases) {
        if (!Applies(Holds::NotUnderWine)) break;
        const DWORD cch = FormatMessageA(0x10FF, nullptr, dwCode, 0x0400, szText, sizeof szText, nullptr);
        EXPECT_STREQ(szText, pszText);
        EXPECT_EQ(cch, strlen(pszText));
    }
    const DWORD cchLine =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, szText, sizeof szText, nullptr);
    EXPECT_EQ(std::string(szText).substr(cchLine - 2), "\r\n");
    if (Applies(Holds::NotUnderWine)) {
        EXPECT_EQ(cchLine, 19u);
        EXPECT_STREQ(szText, "Access is denied.\r\n");
    }
    char szSmall[8] = "keep";
    EXPECT_EQ(FormatMessageA(0x10FF, nullptr, ERROR_ACCESS_DENIED, 0, szSmall, sizeof szSmall, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(FormatMessageA(0x10FF, nullptr, 0x0badf00d, 0, szText, sizeof szText, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

TEST(Misc, TicksCountMillisecondsOfTheMonotonicClock) {
    const DWORD dwStart = GetTickCount();
    const long long msStart = NowMs();
    Sleep(200);
    const long long msTicks = GetTickCount() - dwStart;
    const long long msClock = NowMs() - msStart;
    EXPECT_GE(msClock, 190);
    EXPECT_NEAR(msTicks, msClock, 50);  // Windows' counter moves in steps of about 16 ms
}

TEST(Misc, SystemTimeIsTheRuntimesCalendarClock) {
    const long long nRuntime = static_cast<long long>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(UnixSecondsNow()), static_cast<double>(nRuntime), 2.0);
}

// Checked while the other thread is still alive: starting and joining a
// thread may itself set this thread's last error (it does on Windows).
TEST(Misc, LastErrorIsPerThread) {
    std::atomic<int> nStep{0};
    const auto awaitStep = [&](int n) {
        while (nStep.load() != n) {
        }
    };
    DWORD dwOtherAtStart = 1;
    std::thread other([&] {
        awaitStep(1);
        dwOtherAtStart = GetLastError();
        SetLastError(ERROR_INVALID_HANDLE);
        nStep.store(2);
        awaitStep(3);  // alive until we have read ours
    });
    SetLastError(ERROR_ACCESS_DENIED);
    nStep.store(1);
    awaitStep(2);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    nStep.store(3);
    other.join();
    EXPECT_EQ(dwOtherAtStart, ERROR_SUCCESS);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
