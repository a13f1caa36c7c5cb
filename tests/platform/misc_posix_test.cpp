// Time and debug output of the POSIX layer, steered through its test hooks
// and the variables it reads (TZ, LINKBAY_DEBUG_OUTPUT); Win32 has neither,
// so these run on POSIX only.
#include <gtest/gtest.h>

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
