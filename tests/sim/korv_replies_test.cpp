// The KORV model answers each device command with the exact bytes a driver
// reads, and refuses what an instrument would not understand.
#include <gtest/gtest.h>

#include "sim/korv_model.h"
#include "sim_test_support.h"

namespace linkbay {
namespace test {
namespace {

// One step of a script: a control command (expected to succeed) or a
// request with the exact reply it must get.
struct Step {
    const char* control;
    const char* request;
    const char* reply;
};
Step Wire(const char* request, const char* reply) { return Step{nullptr, request, reply}; }
Step Control(const char* command) { return Step{command, nullptr, nullptr}; }

void RunScript(const std::vector<Step>& script) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));
    for (const Step& step : script) {
        if (step.control) {
            EXPECT_EQ(simulator->control(step.control).substr(0, 2), "ok") << step.control;
        } else {
            EXPECT_EQ(sim::EscapeBytes(port.exchange(step.request)), sim::EscapeBytes(step.reply))
                << "request " << sim::EscapeBytes(step.request);
        }
    }
}

TEST(KorvReplies, SettingsAreAcknowledgedAndReadBackAtOpcodePlus30) {
    RunScript({
        Wire("33\r", "33 4096\r\n"),       Wire("12 0\r", "12\r\n"),
        Wire("03 1024\r", "03\r\n"),       Wire("33\r", "33 1024\r\n"),
        Wire("03 1000\r", "??\r\n"),       Wire("33\r", "33 1024\r\n"),
        Wire("06 64\r", "06\r\n"),         Wire("36\r", "36 64\r\n"),
        Wire("06 3\r", "??\r\n"),          Wire("07 4095\r", "07\r\n"),
        Wire("37\r", "37 4095\r\n"),       Wire("07 4096\r", "??\r\n"),
        Wire("08 0\r", "08\r\n"),          Wire("38\r", "38 0\r\n"),
        Wire("09 12\r", "09\r\n"),         Wire("39\r", "39 12\r\n"),
        Wire("0A 4000\r", "0A\r\n"),       Wire("3A\r", "3A 4000\r\n"),
        Wire("0c 0\r", "0c\r\n"),          Wire("3c\r", "3c 0\r\n"),
        Wire("0d 1\r", "0d\r\n"),          Wire("3d\r", "3d 1\r\n"),
        Wire("0F 1\r", "0F\r\n"),          Wire("3F\r", "3F 1\r\n"),
        Wire("10 1\r", "10\r\n"),          Wire("40\r", "40 1\r\n"),
        Wire("01 120\r", "01\r\n"),        Wire("31\r", "31 120\r\n"),
        Wire("02 0\r", "02\r\n"),          Wire("32\r", "32 0\r\n"),
        Wire("05 -1200\r", "05\r\n"),      Wire("35\r", "35 -1200\r\n"),
        Wire("64\r", "64 0\r\n"),          Wire("1F 1\r", "1F\r\n"),
        Wire("4f\r", "4f 1\r\n"),          Wire("64\r", "64 -1200\r\n"),
        // A controller reset drops the presets and keeps the gain.
        Wire("96\r", "96\r\n"),            Wire("31\r", "31 65535\r\n"),
        Wire("32\r", "32 1\r\n"),          Wire("40\r", "40 0\r\n"),
        Wire("33\r", "33 1024\r\n"),
    });
}

TEST(KorvReplies, UnknownOrMalformedRequestsGetAQuestionMark) {
    RunScript({
        Wire("99\r", "??\r\n"),          Wire("ZZ\r", "??\r\n"),        Wire("3\r", "??\r\n"),
        Wire("033\r", "??\r\n"),         Wire("\r", "??\r\n"),          Wire("93 1\r", "??\r\n"),
        Wire("01\r", "??\r\n"),          Wire("01 x\r", "??\r\n"),      Wire("01 70000\r", "??\r\n"),
        Wire("a2 30 0 1\r", "??\r\n"),   Wire("f6 0\r", "??\r\n"),      Wire("f6 30\r", "??\r\n"),
        Wire("2f 13 01 26 00 00 00\r", "??\r\n"), Wire("01 \v5\r", "??\r\n"),
        // Noise longer than any request is refused as one.
        Wire("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r", "??\r\n"),
        // Still answering normally afterwards.
        Wire("33\r", "33 4096\r\n"),
    });
}

TEST(KorvReplies, IdentityValuesAndRoiSlots) {
    RunScript({
        Wire("6B\r", "6B 20417\r\n"),       Control("set serial 4294967295"),
        Wire("6B\r", "6B 4294967295\r\n"),  Wire("71\r", "71 1.05\r\n"),
        Control("set version 2.1"),         Wire("71\r", "71 2.10\r\n"),
        Wire("63\r", "63 6.85\r\n"),        Wire("f6 1\r", "f6 01 0001 0000\r\n"),
        Wire("a2 01 0100 0199\r", "a2\r\n"), Wire("a4 1 5000\r", "a4\r\n"),
        Wire("f6 1\r", "f6 01 0100 0199\r\n"), Wire("a2 29 4090 4095\r", "a2\r\n"),
        Wire("f6 29\r", "f6 29 4090 4095\r\n"), Wire("a2 02 0300 0200\r", "??\r\n"),
        Wire("a2 03 4000 4096\r", "??\r\n"), Wire("a1\r", "a1\r\n"),
        Wire("f6 1\r", "f6 01 0001 0000\r\n"), Wire("f6 29\r", "f6 29 0001 0000\r\n"),
        // The integral follows counts set up and down, over the ROIs or the whole spectrum.
        Control("set-counts 99 1 2 3"),     Control("set-counts 100 1"),
        Control("set-counts 4095 4294967295"), Wire("80\r", "80 4294967295\r\n"),
        Control("set-counts 4095 0"),       Wire("80\r", "80 5\r\n"),
        Wire("a2 01 0100 0101\r", "a2\r\n"), Wire("80\r", "80 4\r\n"),
    });
}

TEST(KorvReplies, AcquisitionTimesStatusAndPresetStop) {
    RunScript({
        Wire("67\r", "67 0\r\n"),    Wire("68\r", "68 0\r\n"),
        Wire("02 0\r", "02\r\n"),    Wire("01 2\r", "01\r\n"),
        Wire("10 0\r", "10\r\n"),    Control("set live-percent 90"),
        Wire("92 0\r", "92\r\n"),    Wire("67\r", "67 8192\r\n"),
        Control("advance 1000"),     Wire("66\r", "66 0\r\n"),
        Wire("68\r", "68 90\r\n"),   Wire("67\r", "67 8192\r\n"),
        // 2 s of live time at 90 % take 2.24 s: the live preset stops the run.
        Control("advance 1300"),     Wire("67\r", "67 0\r\n"),
        Wire("66\r", "66 2\r\n"),    Control("set active-bits 3"),
        Wire("92\r", "92\r\n"),      Wire("67\r", "67 0\r\n"),
        Wire("10 1\r", "10\r\n"),    Wire("66\r", "66 2\r\n"),
        Wire("01 3\r", "01\r\n"),    Wire("92 0\r", "92\r\n"),
        Wire("67\r", "67 3\r\n"),    Control("advance 800"),
        Wire("67\r", "67 0\r\n"),    Wire("66\r", "66 3\r\n"),
        Wire("02 1\r", "02\r\n"),    Wire("66\r", "66 0\r\n"),
        Wire("93\r", "93\r\n"),      Wire("a0\r", "a0\r\n"),
        Wire("02 0\r", "02\r\n"),    Wire("66\r", "66 0\r\n"),
        Wire("68\r", "68 0\r\n"),
    });
}

TEST(KorvReplies, ClockIsUnsetUntilWrittenAndStampsTheStart) {
    auto simulator = StartKorv(Unpaced());
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));
    EXPECT_EQ(port.exchange("5f\r"), "5f 00 00 00 00 00 00\r\n");
    EXPECT_EQ(port.exchange("79\r"), "79 00 00 00 00 00 00\r\n");
    EXPECT_EQ(port.exchange("2f 02 29 24 23 59 00\r"), "2f\r\n");
    const std::string clock = port.exchange("5f\r");
    // The clock runs on from the leap day's last minute.
    EXPECT_EQ(clock.substr(0, 19), "5f 02 29 24 23 59 0") << clock;
    EXPECT_EQ(port.exchange("92 0\r").substr(0, 2), "92");
    const std::string start = port.exchange("79\r");
    EXPECT_EQ(start.substr(0, 12), "79 " + clock.substr(3, 9)) << start;
    EXPECT_EQ(port.exchange("2f 00 00 00 00 00 00\r"), "2f\r\n");
    EXPECT_EQ(port.exchange("5f\r"), "5f 00 00 00 00 00 00\r\n");
}

}  // namespace
}  // namespace test
}  // namespace linkbay
