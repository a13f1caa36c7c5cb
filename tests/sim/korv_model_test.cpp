// The KORV model where no driver reaches it: requests a driver never sends,
// the state a reset or a zeroed clock leaves, transfer widths at their limits
// and an integral preset that stops the run. Every exchange a driver makes is
// shown through the KORV driver (KorvCommands, KorvSpectrum), which asserts
// the bytes on the wire both ways.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/korv_model.h"
#include "sim_test_support.h"

namespace linkbay {
namespace test {
namespace {

// Requests and the exact replies they must get, in order.
using Transcript = std::vector<std::pair<std::string, std::string>>;

TEST(KorvReplies, WhatNoDriverSendsIsRefusedAndResetsKeepTheirState) {
    const Transcript kTranscript = {
        {"99\r", "??\r\n"}, {"ZZ\r", "??\r\n"}, {"3\r", "??\r\n"}, {"033\r", "??\r\n"}, {"\r", "??\r\n"},
        {"93 1\r", "??\r\n"}, {"01\r", "??\r\n"}, {"01 x\r", "??\r\n"}, {"01 70000\r", "??\r\n"},
        {"01 \v5\r", "??\r\n"}, {"06 3\r", "??\r\n"}, {"07 4096\r", "??\r\n"}, {"a2 30 0 1\r", "??\r\n"},
        {"a2 02 0300 0200\r", "??\r\n"}, {"a2 03 4000 4096\r", "??\r\n"}, {"f6 0\r", "??\r\n"}, {"f6 30\r", "??\r\n"},
        {"2f 13 01 26 00 00 00\r", "??\r\n"},
        // Noise longer than any request is refused as one.
        {std::string(72, 'x') + "\r", "??\r\n"},
        // The table clear empties every slot.
        {"a2 01 0100 0199\r", "a2\r\n"}, {"a1\r", "a1\r\n"}, {"f6 1\r", "f6 01 0001 0000\r\n"},
        // A controller reset drops the presets and keeps the gain.
        {"01 120\r", "01\r\n"}, {"10 1\r", "10\r\n"}, {"03 1024\r", "03\r\n"}, {"96\r", "96\r\n"},
        {"31\r", "31 65535\r\n"}, {"32\r", "32 1\r\n"}, {"40\r", "40 0\r\n"}, {"33\r", "33 1024\r\n"},
        // Zeros unset the clock again.
        {"2f 02 29 24 23 59 00\r", "2f\r\n"}, {"2f 00 00 00 00 00 00\r", "2f\r\n"},
        {"5f\r", "5f 00 00 00 00 00 00\r\n"},
    };
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));
    for (const auto& [request, reply] : kTranscript) {
        EXPECT_EQ(sim::EscapeBytes(port.exchange(request)), sim::EscapeBytes(reply)) << sim::EscapeBytes(request);
    }
}

// The format word and the last channel of a transfer.
std::pair<std::string, uint32_t> FormatAndLastCount(DriverPort& port) {
    const std::string bytes = port.exchange("fb\r", 64 + 65535 * 4);
    const size_t dataAt = bytes.find('\n', bytes.find('\n') + 1) + 5;
    const std::string format = bytes.substr(dataAt - 4, 4);
    const size_t width = format == "0100" ? 1 : format == "0200" ? 2 : 4;
    uint32_t last = 0;
    for (size_t byte = 0; byte < width && dataAt + 4096 * width <= bytes.size(); ++byte)
        last |= uint32_t(uint8_t(bytes[dataAt + 4095 * width + byte])) << (8 * byte);
    EXPECT_EQ(bytes.size(), dataAt + 4096 * width) << format;
    return {format, last};
}

TEST(KorvTransfer, WidthFollowsTheLargestCountOrSaturatesWhenFixed) {
    struct Case {
        const char* width;
        uint32_t largest;
        const char* formatWord;
        uint32_t sent;
    };
    const Case cases[] = {
        {"auto", 0, "0100", 0},           {"auto", 255, "0100", 255},       {"auto", 256, "0200", 256},
        {"auto", 65535, "0200", 65535},   {"auto", 65536, "0400", 65536},   {"1", 300, "0100", 255},
        {"2", 70000, "0200", 65535},      {"4", 1, "0400", 1},
    };
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_115200));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.width) + " " + std::to_string(c.largest));
        ASSERT_EQ(simulator->control(std::string("width ") + c.width), "ok\n");
        simulator->withModel([&](sim::InstrumentModel& model) { model.setCount(4095, c.largest); });
        EXPECT_EQ(FormatAndLastCount(port), std::make_pair(std::string(c.formatWord), c.sent));
    }
}

TEST(KorvAcquisition, IntegralPresetOfAnRoiStopsTheRun) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_115200));
    for (const char* request : {"a2 01 0600 0720\r", "a4 1 300\r", "92 0\r"}) {
        ASSERT_EQ(port.exchange(request).substr(2), "\r\n") << request;
    }
    simulator->advanceClock(600000);
    EXPECT_EQ(port.exchange("67\r"), "67 0\r\n");
    uint64_t integral = 0;
    simulator->withModel([&](sim::InstrumentModel& model) {
        for (uint32_t channel = 600; channel <= 720; ++channel) integral += model.count(channel);
    });
    EXPECT_GE(integral, 300u);
    EXPECT_LT(integral, 330u);
    EXPECT_EQ(port.exchange("80\r"), "80 " + std::to_string(integral) + "\r\n");
}

}  // namespace
}  // namespace test
}  // namespace linkbay
