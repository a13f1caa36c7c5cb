// Faults no driver test plans: a stall the reader waits out, and a hang-up.
// Every kind, aimed at numbered exchanges and spoiling only its own, is shown
// through the ZEPH program (ZephProgram.AnswersAtItsOwnRateAndItsFaultsComeAsFrames)
// and the drivers' link tests (KorvLink, ZephLink).
#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace linkbay {
namespace test {
namespace {

TEST(SimFaults, AStallShorterThanTheReadersPatienceStillDeliversTheWholeReply) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600, kDriverTimeouts));
    simulator->planFault(0, sim::Fault{sim::FaultKind::kStall, 400});
    const long long begin = NowMs();
    EXPECT_EQ(port.exchange("31\r"), "31 65535\r\n");
    EXPECT_GE(NowMs() - begin, 380);
}

TEST(SimFaults, HangUpDropsTheLineAndItReturnsBehindTheSameLink) {
    char directory[] = "/tmp/linkbay-sim-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    sim::SimulatorOptions options = Unpaced();
    options.linkPath = std::string(directory) + "/com1";
    auto simulator = StartKorv(options);
    for (const char* how : {"fault", "control"}) {
        SCOPED_TRACE(how);
        DriverPort port;
        ASSERT_TRUE(port.open(options.linkPath, CBR_9600));
        const std::string before = simulator->devicePath();
        const uint64_t returns = simulator->returns();
        if (std::string(how) == "fault") {
            simulator->planFault(0, sim::Fault{sim::FaultKind::kHangUp, 300});
            EXPECT_EQ(port.exchange("33\r"), "<read failed>");
        } else {
            EXPECT_EQ(simulator->control("hangup 300"), "ok\n");
        }
        std::string nothing;
        EXPECT_TRUE(Eventually([&] { return !port.read(0, nothing); })) << "a zero-byte read must see the hang-up";
        ASSERT_TRUE(Eventually([&] { return simulator->returns() == returns + 1; }));
        char target[256] = {};
        ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), simulator->devicePath());
        EXPECT_NE(simulator->devicePath(), before);
        port.close();
        ASSERT_TRUE(port.open(options.linkPath, CBR_9600));
        EXPECT_EQ(port.exchange("33\r"), "33 4096\r\n");
    }
    simulator->stop();
    unlink(options.linkPath.c_str());
    rmdir(directory);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
