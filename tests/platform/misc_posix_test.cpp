// Time zones and debug output of the POSIX layer, steered through the
// variables it reads (TZ, LINKBAY_DEBUG_OUTPUT) and its capture hook; Win32
// has neither. The tick hook is exercised across the counter's wrap by the
// add-in's throttle test.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "support/file_text.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

TEST(Misc, TimeZoneBiasIsUtcMinusLocalStandardTime) {
    struct Zone { const char* pszTz; LONG bias, daylightBias; };
    for (const Zone& zone : {Zone{"UTC0", 0, 0}, Zone{"EST5EDT", 300, -60}, Zone{"CET-1CEST", -60, -60},
                             Zone{"IST-5:30", -330, 0}}) {
        ScopedVariable tz("TZ", zone.pszTz);
        TIME_ZONE_INFORMATION tzi{};
        EXPECT_NE(GetTimeZoneInformation(&tzi), TIME_ZONE_ID_INVALID);
        EXPECT_EQ(tzi.Bias, zone.bias) << zone.pszTz;
        EXPECT_EQ(tzi.DaylightBias, zone.daylightBias) << zone.pszTz;
    }
    EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
}

int64_t FixedSeconds(void* pContext) { return *static_cast<int64_t*>(pContext); }

// Times in 100 ns from 1601, as Win32 counts them.
TEST(Misc, WallClockSourceStandsInForTheSystemTime) {
    for (int64_t nSeconds : {int64_t{0}, int64_t{1700000000}, int64_t{4102444800}}) {
        platform::SetWallClockSource(FixedSeconds, &nSeconds);
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const uint64_t n = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        EXPECT_EQ(n, 116444736000000000ull + static_cast<uint64_t>(nSeconds) * 10000000ull);
        EXPECT_EQ(UnixSecondsNow(), nSeconds);
    }
    platform::SetWallClockSource(nullptr, nullptr);
    EXPECT_GT(UnixSecondsNow(), 1700000000);
}

void Collect(const char* pszText, void* pContext) {
    static_cast<std::vector<std::string>*>(pContext)->push_back(pszText);
}

TEST(Misc, DebugOutputGoesToCaptureOrConfiguredFileOrNowhere) {
    const std::string sPath = UseFreshEnvironment() + "/debug.log";
    std::vector<std::string> captured;
    platform::SetDebugCapture(Collect, &captured);
    OutputDebugStringA("captured\r\n");
    OutputDebugStringA(nullptr);
    platform::SetDebugCapture(nullptr, nullptr);
    EXPECT_EQ(captured, std::vector<std::string>{"captured\r\n"});
    {
        ScopedVariable output("LINKBAY_DEBUG_OUTPUT", "");  // for what was there before
        UnsetVariable("LINKBAY_DEBUG_OUTPUT");
        OutputDebugStringA("discarded\r\n");
        SetVariable("LINKBAY_DEBUG_OUTPUT", sPath);
        OutputDebugStringA("first\r\n");
        OutputDebugStringA("second\r\n");
    }
    EXPECT_EQ(ReadRaw(sPath), std::optional<std::string>("first\r\nsecond\r\n"));
}

// Someone who can write the folder plants a second name for another file at
// the path: the messages must not land in that file.
TEST(Misc, DebugOutputNeverWritesThroughAPlantedName) {
    using Plant = int (*)(const char* pszExisting, const char* pszNew);
    const Plant plants[] = {symlink, link};
    const std::string sDir = UseFreshEnvironment();
    for (Plant plant : plants) {
        const std::string sVictim = sDir + "/victim", sPath = sDir + "/debug.log";
        WriteRaw(sVictim, "precious\n");
        ASSERT_EQ(plant(sVictim.c_str(), sPath.c_str()), 0);
        {
            ScopedVariable output("LINKBAY_DEBUG_OUTPUT", sPath);
            OutputDebugStringA("leaked\r\n");
        }
        EXPECT_EQ(ReadRaw(sVictim), std::optional<std::string>("precious\n")) << (plant == link ? "link" : "symlink");
        unlink(sPath.c_str());
        unlink(sVictim.c_str());
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
