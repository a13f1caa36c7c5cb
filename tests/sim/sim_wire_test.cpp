// The line itself: replies take their wire time at the rate in use, the
// instrument's own rate shuts out a driver at another, and the wire log
// holds every byte each way in order.
#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace linkbay {
namespace test {
namespace {

// Header, count line and format word of a transfer, before the channel data.
size_t TransferOverhead(size_t channels) {
    return std::string("fb SPECTRUM\r\nCHANNELS \r\n0100").size() + std::to_string(channels).size();
}

TEST(SimPacing, ATransferTakesAtLeastMostOfItsWireTime) {
    struct Case {
        DWORD baud;
        const char* gain;
        const char* width;
        size_t channels;
    };
    const Case cases[] = {{CBR_9600, "03 256\r", "width 1", 256}, {CBR_115200, "03 4096\r", "width 4", 4096}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        sim::SimulatorOptions options;
        options.manualClock = true;
        auto simulator = StartKorv(options);
        DriverPort port;
        ASSERT_TRUE(port.open(simulator->devicePath(), c.baud));
        EXPECT_EQ(simulator->control("line"), "ok baud=" + std::to_string(c.baud) + " paced=" + std::to_string(c.baud) + "\n");
        ASSERT_EQ(port.exchange(c.gain), "03\r\n");
        ASSERT_EQ(simulator->control(c.width), "ok\n");
        const size_t bytes = TransferOverhead(c.channels) + c.channels * (c.width[6] - '0');
        const double wireMs = bytes * 10.0 * 1000.0 / c.baud;
        ASSERT_TRUE(port.setTimeouts(kDriverTimeouts));
        const long long begin = NowMs();
        ASSERT_TRUE(port.write("fb\r"));
        std::string reply;
        ASSERT_TRUE(port.read(bytes, reply));
        const long long elapsedMs = NowMs() - begin;
        EXPECT_EQ(reply.size(), bytes);
        EXPECT_GE(elapsedMs, 0.9 * wireMs) << "wire time " << wireMs << " ms";
    }
}

TEST(SimPacing, AnInstrumentAtAnotherRateHearsOnlyNoise) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));
    ASSERT_EQ(simulator->control("baud 19200"), "ok\n");
    EXPECT_EQ(port.exchange("33\r"), "");
    const std::string log = simulator->control("log");
    EXPECT_NE(log.find("! line at 9600 baud, instrument at 19200: not understood"), std::string::npos) << log;
    ASSERT_EQ(simulator->control("baud 0"), "ok\n");
    EXPECT_EQ(port.exchange("33\r"), "33 4096\r\n");
}

TEST(SimWireLog, HoldsEveryByteEachWayInOrderWithTimes) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));
    const uint64_t mark = simulator->wireLog().nextSequence();
    EXPECT_EQ(port.exchange("33\r"), "33 4096\r\n");
    EXPECT_EQ(port.exchange("99\r"), "??\r\n");
    simulator->planFault(0, sim::Fault{sim::FaultKind::kSilence, 0});
    EXPECT_EQ(port.exchange("12 0\r"), "");
    EXPECT_EQ(simulator->control("sent " + std::to_string(mark)), "ok 33\\r99\\r12 0\\r\n");
    EXPECT_EQ(simulator->control("replied " + std::to_string(mark)), "ok 33 4096\\r\\n??\\r\\n\n");

    // Consecutive entries of one direction merged: the conversation as it went.
    std::vector<std::pair<char, std::string>> turns;
    uint64_t lastTime = 0;
    for (const sim::WireEntry& entry : simulator->wireLog().since(mark)) {
        EXPECT_GE(entry.timeUs, lastTime);
        lastTime = entry.timeUs;
        const char direction = static_cast<char>(entry.direction);
        if (!turns.empty() && turns.back().first == direction && direction != '!') {
            turns.back().second += entry.bytes;
        } else {
            turns.emplace_back(direction, entry.bytes);
        }
    }
    const std::vector<std::pair<char, std::string>> expected = {
        {'<', "33\r"}, {'>', "33 4096\r\n"}, {'<', "99\r"}, {'>', "??\r\n"},
        {'<', "12 0\r"}, {'!', "fault silence on exchange 3"},
    };
    EXPECT_EQ(turns, expected);

    ASSERT_EQ(simulator->control("clear-log"), "ok\n");
    EXPECT_EQ(simulator->control("sent 0"), "ok\n");
    EXPECT_EQ(port.exchange("33\r"), "33 4096\r\n");
    const std::string log = simulator->control("log " + std::to_string(mark));
    EXPECT_NE(log.find(" < 33\\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" > 33 4096\\r\\n\n"), std::string::npos) << log;
}

TEST(SimWireLog, KeepsOnlyItsLastEntriesOverAHundredSpectrumReads) {
    constexpr size_t kEntries = 40;
    sim::SimulatorOptions options = Unpaced();
    options.wireLogEntries = kEntries;
    auto simulator = StartKorv(options);
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_115200));
    const size_t bytes = TransferOverhead(4096) + 4096;
    for (int read = 0; read < 100; ++read) {
        ASSERT_EQ(port.exchange("fb\r", bytes + 1).size(), bytes) << "read " << read;
        ASSERT_LE(simulator->wireLog().size(), kEntries) << "read " << read;
    }
    // The newest entries stay, numbered on from every one recorded.
    const std::vector<sim::WireEntry> kept = simulator->wireLog().since(0);
    ASSERT_FALSE(kept.empty());
    EXPECT_GT(kept.front().sequence, kEntries);
    EXPECT_EQ(kept.back().sequence + 1, simulator->wireLog().nextSequence());
    EXPECT_EQ(kept.back().direction, sim::WireDirection::kOut);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
