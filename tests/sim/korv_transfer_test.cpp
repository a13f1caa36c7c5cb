// Spectra: the transfer's width and channel count, and the integral preset
// that stops a run. That every width carries the model's counts channel for
// channel is shown through the driver
// (KorvSim.ReadDataEqualsTheInstrumentsCountsInEveryWidth).
#include <gtest/gtest.h>

#include <cstring>

#include "sim/korv_model.h"
#include "sim_test_support.h"

namespace linkbay {
namespace test {
namespace {

struct Transfer {
    std::string header;
    std::string countLine;
    std::string formatWord;
    std::vector<uint32_t> counts;
};

// Splits a transfer as a driver reads it: two lines, four hex digits, data.
bool ParseTransfer(const std::string& bytes, Transfer& transfer) {
    const size_t headerEnd = bytes.find('\n');
    const size_t countEnd = bytes.find('\n', headerEnd + 1);
    if (headerEnd == std::string::npos || countEnd == std::string::npos || bytes.size() < countEnd + 5) return false;
    transfer.header = bytes.substr(0, headerEnd + 1);
    transfer.countLine = bytes.substr(headerEnd + 1, countEnd - headerEnd);
    transfer.formatWord = bytes.substr(countEnd + 1, 4);
    const unsigned long format = std::strtoul(transfer.formatWord.c_str(), nullptr, 16);
    const size_t width = format & 0x100 ? 1 : format & 0x200 ? 2 : format & 0x400 ? 4 : 0;
    const std::string data = bytes.substr(countEnd + 5);
    if (width == 0 || data.size() % width != 0) return false;
    for (size_t at = 0; at < data.size(); at += width) {
        uint32_t value = 0;
        for (size_t byte = 0; byte < width; ++byte) value |= uint32_t(uint8_t(data[at + byte])) << (8 * byte);
        transfer.counts.push_back(value);
    }
    return true;
}

Transfer ReadTransfer(DriverPort& port) {
    Transfer transfer;
    EXPECT_TRUE(ParseTransfer(port.exchange("fb\r", 64 + 65535 * 4), transfer));
    return transfer;
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
        const Transfer transfer = ReadTransfer(port);
        EXPECT_EQ(transfer.formatWord, c.formatWord);
        ASSERT_EQ(transfer.counts.size(), 4096u);
        EXPECT_EQ(transfer.counts[4095], c.sent);
    }
}

TEST(KorvTransfer, ChannelCountFollowsTheConversionGainOrTheAnnouncement) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_115200));
    EXPECT_EQ(port.exchange("03 256\r"), "03\r\n");
    Transfer transfer = ReadTransfer(port);
    EXPECT_EQ(transfer.countLine, "CHANNELS 256\r\n");
    EXPECT_EQ(transfer.counts.size(), 256u);
    ASSERT_EQ(simulator->control("announce 5000"), "ok\n");
    transfer = ReadTransfer(port);
    EXPECT_EQ(transfer.countLine, "CHANNELS 5000\r\n");
    EXPECT_EQ(transfer.counts.size(), 5000u);
    EXPECT_EQ(simulator->control("announce 0").substr(0, 3), "err");
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
