// The ZEPH model against frames built here byte by byte: its status frame
// against a golden record, settings against the fields they must change,
// refusals, framing through noise, and the real program over a pty.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "sim/control_words.h"
#include "sim/zeph_model.h"
#include "sim_test_support.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

std::string Bytes(std::initializer_list<int> list) {
    std::string bytes;
    for (int byte : list) bytes += static_cast<char>(byte);
    return bytes;
}

std::string Req(int code, int p1 = 0, int p2 = 0, int p3 = 0) {
    std::string bytes = Bytes({0xA5, 0x5A});
    for (int value : {code, p1, p2, p3}) bytes += Bytes({value & 0xff, (value >> 8) & 0xff});
    return bytes + Bytes({0xB9, 0x9B});
}

uint32_t Le(const std::string& frame, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(frame[offset + i])) << (8 * i);
    return value;
}

// Fields four bytes wide; all others are two.
size_t Width(size_t offset) { return offset == 6 || offset == 22 || offset == 26 || offset == 30 || offset == 102 ? 4 : 2; }

const std::string kRefusal = Bytes({0xA5, 0x5A}) + std::string(132, '\0') + Bytes({0xAA, 0xAA});

struct Zeph {
    sim::ZephModel model;
    std::string ask(int code, int p1 = 0, int p2 = 0, int p3 = 0) { return model.answer(Req(code, p1, p2, p3)); }
    uint32_t status(size_t offset) { return Le(ask(0x5A), offset, Width(offset)); }
    std::string control(const std::string& line) {
        std::string reply;
        return model.control(sim::SplitWords(line), reply) ? reply : "declined\n";
    }
};

TEST(ZephModel, TheDefaultStatusFrameIsTheGoldenRecord) {
    const std::map<size_t, std::string> golden = {
        {0, Bytes({0xA5, 0x5A})}, {26, Bytes({0xD0, 0x07})}, {38, Bytes({0x00, 0x10})}, {40, Bytes({0x0A})},
        {44, Bytes({0x7F, 0x0F})}, {50, Bytes({0x0A})},      {52, Bytes({0x10, 0x27})}, {54, Bytes({0x76})},
        {56, Bytes({0x46, 0x0F})}, {62, Bytes({0x03})},      {64, Bytes({0xE8, 0x03})}, {66, Bytes({0xE8, 0x03})},
        {68, Bytes({0x32})},       {74, Bytes({0xDE, 0x03})}, {76, Bytes({0xF1, 0x03})}, {82, Bytes({0x01})},
        {88, Bytes({0x03, 0x09})}, {90, Bytes({0x03})},      {92, Bytes({0x13, 0x02})},
    };
    std::string expected(136, '\0');
    for (const auto& field : golden) expected.replace(field.first, field.second.size(), field.second);
    Zeph zeph;
    EXPECT_EQ(sim::EscapeBytes(zeph.model.answer(Bytes({0xA5, 0x5A, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0xB9, 0x9B}))),
              sim::EscapeBytes(expected));
    EXPECT_EQ(zeph.control("request 0x5a"), "ok " + sim::EscapeBytes(expected) + "\n");
}

TEST(ZephModel, SettingsFramesChangeTheirStatusFields) {
    struct Case {
        int code, p1, p2, p3;
        std::map<size_t, uint32_t> fields;
    };
    const Case cases[] = {
        {0x45, 1, 0, 0, {{2, 1}}},
        {0x46, 1024, 5, 4000, {{38, 1024}, {42, 5}, {44, 4000}}},
        {0x47, 30, 0, 0, {{40, 30}}},
        {0x48, 2, 0x86A0, 1, {{4, 2}, {6, 100000}}},
        {0x4C, 200, 12000, 0, {{50, 200}, {52, 12000}}},
        {0x4D, 1, 1000, 1100, {{70, 1050}, {74, 1000}, {76, 1100}}},
        {0x4D, 2000, 10, 20, {{70, 2000}, {74, 10}, {76, 20}}},
        {0x4F, 1200, 0xFFFF, 0, {{58, 1200}, {124, 0xFFFF}}},
        {0x52, 3, 0, 0, {{82, 3}}},
        {0x53, 1, 0, 0, {{84, 1}}},
        {0x54, 4, 0, 0, {{78, 4}}},
        {0x56, 1, 0, 0, {{80, 1}}},
        {0x58, 0, 2000, 0, {{64, 2000}}},
        {0x42, 1, 0x5678, 0x1234, {{102, 0x12345678}, {130, 2}}},
        {0x43, 0, 0, 0, {{130, 3}}},
        {0x44, 1, 0, 0, {{130, 0}}},
        {0x48, 0, 5, 0, {{4, 0}, {6, 0}}},
        {0x41, 0, 0, 0, {{2, 0}, {38, 4096}, {44, 3967}, {58, 0}, {70, 0}, {74, 990}, {82, 1}, {102, 0}, {124, 0}}},
    };
    Zeph zeph;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(zeph.ask(c.code, c.p1, c.p2, c.p3), Bytes({0xA5, 0x5A}) + std::string(134, '\0'));
        for (const auto& field : c.fields) EXPECT_EQ(zeph.status(field.first), field.second) << "offset " << field.first;
        if (c.code == 0x4F) {
            EXPECT_EQ(Le(zeph.ask(0x59), 30, 4), 1000u) << "the monitor: the voltage / 1.2";
        }
    }
}

TEST(ZephModel, WhatTheInstrumentDoesNotTakeIsRefusedAndChangesNothing) {
    const std::string kBadEnd = Req(0x45, 1).replace(10, 2, Bytes({0xB9, 0x9C}));
    const std::string refused[] = {
        Req(0x40),           Req(0x5F),          kBadEnd,                Req(0x41, 1),          Req(0x42, 2),
        Req(0x44, 2),        Req(0x45, 2),       Req(0x46, 1000, 0, 10), Req(0x46, 64, 0, 10),  Req(0x46, 8192),
        Req(0x46, 128, 0, 4096), Req(0x47, 61),  Req(0x48, 4),           Req(0x49, 4090, 10),   Req(0x4C, 1, 10000),
        Req(0x4C, 10, 4999), Req(0x4D, 1, 0, 1), Req(0x4D, 5, 20, 10),   Req(0x4F, 3001),       Req(0x4F, 0, 2),
        Req(0x52, 2),        Req(0x54, 1),       Req(0x54, 2),           Req(0x57, 32),         Req(0x57, 0, 0x4F53, 1),
        Req(0x57, 0, 0x4F52, 31), Req(0x57, 1, 10, 5), Req(0x57, 31, 3001), Req(0x58, 1, 100), Req(0x5B, 4065, 1),
        Req(0x5B, 0, 2),     Req(0x5E, 32),
    };
    Zeph zeph;
    const std::string before = zeph.ask(0x5A);
    for (const std::string& request : refused) {
        EXPECT_EQ(zeph.model.answer(request), kRefusal) << sim::EscapeBytes(request);
        EXPECT_EQ(zeph.ask(0x5A), before) << sim::EscapeBytes(request);
    }
    EXPECT_EQ(zeph.control("status 78 2"), "err status 78 takes one of 0, 3, 4\n");
    EXPECT_EQ(zeph.control("roi 1 10 5"), "err the instrument takes roi SLOT [START END] (1 to 30, START <= END <= 4095), "
                                          "roi 0 [COUNT] (0 to 30), roi 31 [VOLTS] (0 to 3000), roi mark\n");
}

TEST(ZephModel, NoiseBeforeASyncWordIsDroppedWithoutGrowingTheBuffer) {
    struct Case {
        std::string bytes;
        size_t length;
        bool answered;
    };
    const std::string noise(300, '\x11');
    const Case cases[] = {
        {Bytes({0x00, 0xA5, 0xA5, 0x11}) + Req(0x5A), 16, true},
        {Req(0x5A).substr(0, 11), 0, false},
        {std::string(200, '\xA5'), 0, false},
        {noise + "\xA5", 300, false},
        {noise + Req(0x5A).substr(0, 4), 300, false},
    };
    sim::ZephModel model;
    for (const Case& c : cases) {
        EXPECT_EQ(model.requestLength(c.bytes.data(), c.bytes.size()), c.length) << sim::EscapeBytes(c.bytes);
        if (c.length) {
            EXPECT_EQ(model.answer(c.bytes.substr(0, c.length)).size(), c.answered ? 136u : 0u);
        }
    }
}

TEST(ZephModel, BlocksTableSlotsAndTheIntegralPreset) {
    Zeph zeph;
    std::string counts = "set-counts 4064";
    for (uint32_t i = 0; i < 32; ++i) counts += " " + std::to_string(i * 0x01010101u);
    ASSERT_EQ(zeph.control(counts), "ok\n");
    const std::string block = zeph.ask(0x5B, 4064, 1);
    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(Le(block, 2 + 4 * i, 4), i * 0x01010101u) << i;

    for (const auto& slot : std::vector<std::vector<int>>{{0, 0x4F52, 2}, {1, 100, 199}, {2, 150, 150}, {31, 1500, 0}}) {
        EXPECT_EQ(zeph.ask(0x57, slot[0], slot[1], slot[2]).substr(134), Bytes({0, 0}));
    }
    const std::map<int, uint32_t> read = {{0, 0x00024F52}, {1, 199u << 16 | 100}, {2, 150u << 16 | 150}, {31, 1500}};
    for (const auto& slot : read) EXPECT_EQ(Le(zeph.ask(0x5E, slot.first), 2, 4), slot.second) << slot.first;
    EXPECT_EQ(zeph.control("roi 1"), "ok 100 199\n");

    // Slot 2 lies inside slot 1: channel 150 counts twice. No time preset:
    // only the integral can stop the run.
    ASSERT_EQ(zeph.control("set-counts 150 5"), "ok\n");
    EXPECT_EQ(zeph.ask(0x48, 3, 25).substr(134), Bytes({0, 0}));
    zeph.model.startAcquisition();
    for (int step = 0; step < 5000 && zeph.model.acquiring(); ++step) zeph.model.advance(20000);
    EXPECT_EQ(zeph.status(130), 4u);
    uint32_t integral = zeph.model.count(150);
    for (uint32_t channel = 100; channel <= 199; ++channel) integral += zeph.model.count(channel);
    EXPECT_GE(integral, 25u);
    EXPECT_EQ(zeph.ask(0x44, 3).substr(134), Bytes({0, 0}));
    EXPECT_EQ(zeph.status(130), 0u);
    EXPECT_EQ(zeph.control("status 130 4"), "ok\n");
    EXPECT_EQ(zeph.control("status 30 1500"), "ok\n");
    EXPECT_EQ(zeph.control("times"), "ok 1500000 0\n");
    EXPECT_EQ(zeph.status(30), 1500u);
}

TEST(ZephProgram, AnswersAtItsOwnRateAndItsFaultsComeAsFrames) {
    char directory[] = "/tmp/linkbay-zeph-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const ScopedVariable windir("LINKBAY_WINDIR", directory);
    {
        SimulatorProgram program(1, {"--no-pacing"}, "zeph");
        ASSERT_TRUE(program.ready()) << program.problem();
        DriverPort port;
        ASSERT_TRUE(port.open(std::string(directory) + "/com1", CBR_9600));
        EXPECT_EQ(port.exchange(Req(0x5A)), "") << "9600 baud is not the instrument's";
        ASSERT_TRUE(port.open(std::string(directory) + "/com1", CBR_38400));
        const std::string status = port.exchange(Req(0x5A));
        std::string garbage;
        while (garbage.size() < 136) garbage += "#%&*+-/<=>@^_~";
        struct Case {
            const char* fault;
            std::string seen;
        };
        const Case cases[] = {
            {"silence", ""},
            {"short", status.substr(0, 68)},
            {"stall", status.substr(0, 68)},
            {"garbage 136", garbage.substr(0, 136)},
            {"reject", kRefusal},
            {"reply \\xa5Z\\x01", Bytes({0xA5, 0x5A, 0x01})},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(program.control(std::string("fault next ") + c.fault).substr(0, 3), "ok ") << c.fault;
            EXPECT_EQ(sim::EscapeBytes(port.exchange(Req(0x5A))), sim::EscapeBytes(c.seen)) << c.fault;
            EXPECT_EQ(port.exchange(Req(0x5A)), status) << "after " << c.fault;
        }
        EXPECT_EQ(program.control("status"), "ok acquiring=0 exchanges=14 returns=0\n");
    }
    rmdir(directory);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
