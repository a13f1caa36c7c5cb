// The interrogation throttle, on the POSIX layer's tick source instead of a
// clock: POSIX only.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "addin/linkbay.h"
#include "platform/test_hooks.h"
#include "support/debug_sink.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

DWORD FakeTicks(void* pContext) { return *static_cast<DWORD*>(pContext); }

// With a configured port whose device is missing, every interrogation that
// runs reports its failed open; a throttled one says nothing.
TEST(AddinDiscovery, InterrogationRunsAtMostOnceIn2000Ms) {
    const std::string sDir = UseFreshEnvironment();
    std::ofstream(sDir + "/DETHUB.INI") << "[CONFIG]\nCOM1=generic\n";
    ASSERT_TRUE(BindPortToPath(1, "/dev/linkbay-no-such-port"));
    DWORD dwNow = 0xfffff000u;  // across the wrap of the tick counter
    platform::SetTickSource(FakeTicks, &dwNow);
    Linkbay addin;
    addin.ReadConfiguration();
    const std::string kFailure = "Linkbay::InterrogateMCB(): Tried to open COM1 but failed\r\n";
    EXPECT_EQ(DebugTextOf([&] { addin.InterrogateMCB(97); }), kFailure);
    struct Step {
        DWORD dwAdvance;
        bool bRuns;
    };
    const Step kSteps[] = {{1999, false}, {1, true}, {0, false}, {1999, false}, {5000, true}};
    for (const Step& step : kSteps) {
        dwNow += step.dwAdvance;
        EXPECT_EQ(DebugTextOf([&] { addin.InterrogateMCB(97); }), step.bRuns ? kFailure : "")
            << "after " << step.dwAdvance << " ms";
    }
    platform::SetTickSource(nullptr, nullptr);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
