// The ZEPH driver against the simulated instrument where the test steers the
// POSIX layer's tick count, wall clock and time zone.

#include <cstdlib>
#include <ctime>

#include "drivers/driver_rig.h"
#include "drivers/zeph/zephci.h"
#include "platform/test_hooks.h"

namespace linkbay {
namespace test {
namespace {

DWORD g_dwTick = 0;
DWORD FixedTick(void*) { return g_dwTick; }

// How many status reads (code 0x5A) the instrument heard.
int StatusReads(const std::string& sBytes) {
    int n = 0;
    for (size_t i = 0; i + 12 <= sBytes.size(); i += 12) n += sBytes[i + 2] == 0x5A && sBytes[i + 3] == 0;
    return n;
}

TEST(ZephStatus, ReportsWithin500MsReuseTheStatusUntilACommandChangesIt) {
    struct Case {
        const char* pszName;
        const char* pszFirst;  // run right after attaching
        DWORD dwLater;         // ms until the report
        int nReads;            // status reads of the report
    };
    const Case cases[] = {
        {"report at 500 ms", nullptr, 500, 0},
        {"report at 501 ms", nullptr, 501, 1},
        {"after a gain change", "SET_GAIN_COARSE 20", 0, 1},
        {"after a refused lower level", "SET_LLD 4000", 0, 1},
        {"after a refused upper level", "SET_ULD 0", 0, 1},
        {"after a start that sent nothing", "START", 0, 1},
        {"after the threshold, kept in place", "SET_THRESHOLD 30", 0, 0},
        {"after a preset", "SET_LIVE_PRESET 500", 0, 0},
        {"after an roi", "SET_ROI 10,3", 0, 0},
    };
    platform::SetTickSource(FixedTick, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_dwTick = 0xFFFFFF00u;  // the tick count wraps in between
        DriverRig<ZEPHCI> rig("zeph", false);
        rig.Step("status 130 2");
        rig.Attach();
        ASSERT_TRUE(rig.Present());
        if (c.pszFirst != nullptr) rig.Exec(c.pszFirst);
        g_dwTick += c.dwLater;
        rig.Mark();
        const Result r = rig.Exec("SHOW_THRESHOLD");
        EXPECT_TRUE(r.bOk);
        EXPECT_EQ(StatusReads(rig.Sent()), c.nReads);
    }
    platform::SetTickSource(nullptr, nullptr);
}

int64_t g_nNow = 0;
int64_t FixedWallClock(void*) { return g_nNow; }

// UTC = local + bias: with the clock an hour ahead of UTC the bias is -60
// minutes and the device counts an hour behind the calendar.
TEST(ZephClock, DeviceTimeIsShiftedByTheBiasAndConvertsBackToLocalTime) {
    const char* pszOldTz = std::getenv("TZ");
    const std::string sOldTz = pszOldTz != nullptr ? pszOldTz : "";
    setenv("TZ", "ZZZ-1", 1);
    tzset();
    g_nNow = 1772600767;  // 2026-03-04 05:06:07 UTC
    platform::SetWallClockSource(FixedWallClock, nullptr);
    {
        DriverRig<ZEPHCI> rig("zeph", false);
        rig.Step("status 130 0");
        rig.Attach();
        rig.Mark();
        ASSERT_TRUE(rig.Exec("START").bOk);
        const std::string sSent = rig.Sent();
        ASSERT_EQ(sSent.size(), 12u);
        const uint32_t dwSent = static_cast<uint8_t>(sSent[6]) | (static_cast<uint8_t>(sSent[7]) << 8) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(sSent[8])) << 16) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(sSent[9])) << 24);
        EXPECT_EQ(dwSent, 1772600767u - 3600u);
        EXPECT_EQ(rig.Exec("SHOW_TIME_START").sResp, Record(FormatN, 6, 6, 7));
        EXPECT_EQ(rig.Exec("SHOW_DATE_START").sResp, Record(FormatN, 4, 3, 26));
        EXPECT_EQ(rig.Exec("SHOW_TIME").sResp, Record(FormatN, 6, 6, 7));
        rig.Steps({"> STOP", "status 102 0"});
        // Device time 0 is an hour after the epoch here.
        EXPECT_EQ(rig.Exec("SHOW_DATE_START").sResp, Record(FormatN, 1, 1, 70));
    }
    platform::SetWallClockSource(nullptr, nullptr);
    if (pszOldTz != nullptr) {
        setenv("TZ", sOldTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace
}  // namespace test
}  // namespace linkbay
