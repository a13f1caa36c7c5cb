// Each planned fault shows on the driver's side of the line as the fault it
// stands for, spoils only its own exchange, and can be aimed at any exchange.
#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace linkbay {
namespace test {
namespace {

constexpr PortTimeouts kFaultTimeouts{200, 1500};

TEST(SimFaults, EachKindShowsOnTheDriverSideAndTheNextExchangeIsClean) {
    struct Case {
        sim::Fault fault;
        std::string seen;  // what the driver reads for the faulty exchange
    };
    const Case cases[] = {
        {{sim::FaultKind::kSilence, 0}, ""},
        {{sim::FaultKind::kShort, 0}, "33 4"},
        {{sim::FaultKind::kShort, 2}, "33"},
        // The rest of a stalled reply never comes: the next request interrupts it.
        {{sim::FaultKind::kStall, 600}, "33 4"},
        {{sim::FaultKind::kGarbage, 0}, "#%&*+-/<=>@^_~#%&*+-/<=>"},
        {{sim::FaultKind::kGarbage, 3}, "#%&"},
        {{sim::FaultKind::kReject, 0}, "??\r\n"},
    };
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600, kFaultTimeouts));
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::FaultKindName(c.fault.kind) + std::string(" ") + std::to_string(c.fault.amount));
        simulator->planFault(0, c.fault);
        EXPECT_EQ(sim::EscapeBytes(port.exchange("33\r")), sim::EscapeBytes(c.seen));
        EXPECT_EQ(port.exchange("33\r"), "33 4096\r\n");
    }
}

TEST(SimFaults, AStallShorterThanTheReadersPatienceStillDeliversTheWholeReply) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600, kDriverTimeouts));
    simulator->planFault(0, sim::Fault{sim::FaultKind::kStall, 400});
    const long long begin = NowMs();
    EXPECT_EQ(port.exchange("31\r"), "31 65535\r\n");
    EXPECT_GE(NowMs() - begin, 380);
}

TEST(SimFaults, FaultsAreAimedAtNumberedExchangesAndRejectedRequestsAreNotCarriedOut) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));
    const uint64_t second = simulator->exchanges() + 2;
    EXPECT_EQ(simulator->control("fault " + std::to_string(second) + " reject"), "ok " + std::to_string(second) + "\n");
    EXPECT_EQ(port.exchange("01 10\r"), "01\r\n");
    EXPECT_EQ(port.exchange("01 20\r"), "??\r\n");
    EXPECT_EQ(port.exchange("31\r"), "31 10\r\n");
    EXPECT_EQ(simulator->exchanges(), second + 1);
    // A driver's retry meets the same fault when it is planned for a run of exchanges.
    EXPECT_EQ(simulator->control("fault next garbage 16 2"), "ok " + std::to_string(second + 2) + "\n");
    EXPECT_EQ(port.exchange("31\r"), "#%&*+-/<=>@^_~#%");
    EXPECT_EQ(port.exchange("31\r"), "#%&*+-/<=>@^_~#%");
    EXPECT_EQ(port.exchange("31\r"), "31 10\r\n");
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
