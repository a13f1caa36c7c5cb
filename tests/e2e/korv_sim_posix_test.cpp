// The KORV driver cases that reach past what a Windows process can do: a
// tick count faked through the POSIX layer's seam, and the simulator
// program's own output and exit status, which a Windows process under Wine
// does not get from a native program.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "drivers/korv/korvci.h"
#include "platform/test_hooks.h"
#include "support/child_process.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

constexpr int kPort = 1;
constexpr int32_t kMcb = 97;

struct TickHook {
    explicit TickHook(DWORD dwStart) : dwTick(dwStart) {
        platform::SetTickSource([](void* p) { return static_cast<TickHook*>(p)->dwTick; }, this);
    }
    ~TickHook() { platform::SetTickSource(nullptr, nullptr); }
    DWORD dwTick;
};

std::string Variable(const char* pszName) {
    const char* pszValue = getenv(pszName);
    return pszValue != nullptr ? pszValue : std::string();
}

// A fresh IPC namespace and Windows directory; the other tests of this
// process get theirs back.
struct FreshEnvironment {
    FreshEnvironment() { UseFreshEnvironment(); }
    ScopedVariable ipc{"LINKBAY_IPC_NAMESPACE", Variable("LINKBAY_IPC_NAMESPACE")};
    ScopedVariable windir{"LINKBAY_WINDIR", Variable("LINKBAY_WINDIR")};
};

bool StartsWith(const std::string& s, const std::string& sPrefix) { return s.compare(0, sPrefix.size(), sPrefix) == 0; }

std::string AfterPrefix(const std::string& s, const std::string& sPrefix) {
    return StartsWith(s, sPrefix) ? s.substr(sPrefix.size()) : std::string();
}

// The instrument logs a request before it answers it, so the bytes sent
// are complete once the driver's call returns.
TEST(KorvSim, ReadsWithin500MsShareOneTransfer) {
    struct Case {
        DWORD dwApartMs;
        size_t nTransfers;
    };
    const Case cases[] = {{400, 1}, {600, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dwApartMs);
        FreshEnvironment environment;
        SimulatorProgram sim(kPort, {"--no-pacing", "--manual-clock"});
        ASSERT_TRUE(sim.ready()) << sim.problem();
        KORVCI driver(kMcb);
        driver.Attach(RS232CI::COMOpen(kPort));
        ASSERT_TRUE(driver.IsUnitPresent(1));
        TickHook tick(0xFFFFFF00u);  // the tick count wraps between the reads
        uint32_t dwData[8] = {};
        ASSERT_EQ(sim.control("set-counts 5 40"), "ok\n");
        ASSERT_EQ(driver.ReadData(1, 0, 0, 8, dwData), 1);
        EXPECT_EQ(dwData[5], 40u);
        ASSERT_EQ(sim.control("set-counts 5 41"), "ok\n");
        tick.dwTick += c.dwApartMs;
        const std::string sMark = AfterPrefix(sim.control("mark"), "ok ");
        ASSERT_EQ(driver.ReadData(1, 0, 0, 8, dwData), 1);
        EXPECT_EQ(sim.control("sent " + sMark), c.nTransfers == 1 ? "ok\n" : "ok fb\\r\n");
        EXPECT_EQ(dwData[5], c.nTransfers == 1 ? 40u : 41u);
    }
}

#ifdef LINKBAY_SIM_PATH
// The same conversation with the simulator as a process of its own, started
// by hand: the lines it prints, steering through its control port, and its
// end on "quit".
TEST(KorvSim, TheSimulatorProgramServesTheDriverFromAnotherProcess) {
    FreshEnvironment environment;
    ChildProcess program(LINKBAY_SIM_PATH, {"korv", "--no-pacing", "--manual-clock"});
    const std::string sDevice = AfterPrefix(program.readLine(), "device ");
    const std::string sPort = AfterPrefix(program.readLine(), "control 127.0.0.1:");
    ASSERT_FALSE(sDevice.empty());
    ASSERT_FALSE(sPort.empty());
    ControlClient control;
    ASSERT_TRUE(control.connect(static_cast<uint16_t>(std::stoi(sPort))));
    ASSERT_EQ(control.command("start"), "ok\n");
    ASSERT_EQ(control.command("advance 3000"), "ok\n");
    ScopedVariable port("LINKBAY_COM1", sDevice);
    {
        KORVCI driver(kMcb);
        driver.Attach(RS232CI::COMOpen(kPort));
        ASSERT_TRUE(driver.IsUnitPresent(1));
        int32_t nLen = 0, nMac = 0, nMic = 0;
        char sz[64] = {};
        EXPECT_TRUE(driver.ExecLine(1, "SET_ROI 100,50", sizeof sz, sz, &nLen, &nMac, &nMic));
        EXPECT_EQ(nMac, 0);
        std::vector<uint32_t> data(kKorvChannels);
        ASSERT_EQ(driver.ReadData(1, 0, 0, kKorvChannels, data.data()), 1);
        std::string sExpected = "ok";
        for (int32_t i = 0; i < kKorvChannels; ++i) {
            EXPECT_EQ((data[i] & kKorvRoiFlag) != 0, i >= 100 && i < 150) << "channel " << i;
            sExpected += " " + std::to_string(data[i] & ~kKorvRoiFlag);
        }
        EXPECT_EQ(control.command("counts 0 4096"), sExpected + "\n");
        EXPECT_EQ(control.command("sent"),
                  "ok 33\\r12 0\\ra1\\ra2 01 0100 0149\\ra4 1 0\\rfb\\r\n");
        EXPECT_EQ(control.command("roi 1"), "ok 1 100 149 0\n");
    }
    EXPECT_EQ(control.command("quit"), "ok\n");
    EXPECT_EQ(program.wait(5000), 0);
}
#endif

}  // namespace
}  // namespace test
}  // namespace linkbay
