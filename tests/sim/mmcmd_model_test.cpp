// The TAVO/PELLUX model against frames written here byte by byte: golden
// request and reply records, SET-to-SHOW pairs, texts, the clock, the
// 128-channel block, framing through noise, error pairs, and the real
// program over a pty with each of its faults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sim/control_words.h"
#include "sim/mmcmd_model.h"
#include "sim_test_support.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

using WordList = std::vector<uint32_t>;

std::string Bytes(std::initializer_list<int> list) {
    std::string bytes;
    for (int byte : list) bytes += static_cast<char>(byte);
    return bytes;
}

std::string Be(uint32_t value) { return Bytes({int(value >> 24), int(value >> 16 & 0xff), int(value >> 8 & 0xff), int(value & 0xff)}); }

std::string Req(int code, size_t replyLength, const WordList& words = {}, const std::string& texts = "") {
    std::string params = texts;
    for (size_t i = words.size(); i-- > 0;) params = Be(words[i]) + params;
    return Be(static_cast<uint32_t>(10 + params.size())) + Be(static_cast<uint32_t>(replyLength)) +
           Bytes({code & 0xff, code >> 8}) + params;
}

std::string Ok(const WordList& words) {
    std::string bytes = Bytes({0, 0});
    for (uint32_t word : words) bytes += Be(word);
    return bytes;
}

struct Tavo {
    sim::MmcmdModel model{"TAVO-210"};
    std::string ask(int code, const WordList& words = {}, size_t replyLength = 2) {
        return model.answer(Req(code, replyLength, words));
    }
    WordList show(int code, size_t count, const WordList& words = {}) {
        const std::string reply = ask(code, words, 2 + 4 * count);
        EXPECT_EQ(reply.substr(0, 2), Bytes({0, 0})) << code;
        WordList values;
        for (size_t i = 0; i < count; ++i) {
            uint32_t value = 0;
            for (size_t b = 0; b < 4; ++b) value = value << 8 | static_cast<uint8_t>(reply[2 + 4 * i + b]);
            values.push_back(value);
        }
        return values;
    }
    std::string control(const std::string& line) {
        std::string reply;
        return model.control(sim::SplitWords(line), reply) ? reply : "declined\n";
    }
};

TEST(MmcmdModel, FramesAndRepliesMatchTheirGoldenRecords) {
    struct Case {
        std::string request;
        std::string reply;
    };
    const Case cases[] = {
        {Bytes({0, 0, 0, 0x0A, 0, 0, 0, 0x06, 0x7D, 0}), Bytes({0, 0, 0, 0, 0, 0xFA})},  // SHOW_LIVE
        {Bytes({0, 0, 0, 0x0E, 0, 0, 0, 0x02, 0x3E, 0, 0, 0, 0, 0x64}), Bytes({0, 0})},  // SET_LIVE 100
        {Bytes({0, 0, 0, 0x0A, 0, 0, 0, 0x06, 0x7D, 0}), Bytes({0, 0, 0, 0, 0, 0x64})},
        {Bytes({0, 0, 0, 0x0A, 0, 0, 0, 0x0C, 0x9E, 0}), Bytes({0, 0}) + "TAVO-210" + Bytes({0, 0})},
        {Bytes({0, 0, 0, 0x0A, 0, 0, 0, 0x06, 0x9E, 0}), Bytes({0, 0}) + "TAVO"},
        {Bytes({0, 0, 0, 0x0A, 0, 0, 0, 0x04, 0x0F, 0x27}), Bytes({131, 133, 0, 0})},  // 9999: no such command
        {Bytes({0, 0, 0, 0x0E, 0, 0, 0, 0x06, 0x7D, 0, 0, 0, 0, 1}), Bytes({131, 132, 0, 0, 0, 0})},
    };
    Tavo tavo;
    ASSERT_EQ(tavo.control("request 62 250"), "ok \\x00\\x00\n");
    ASSERT_EQ(tavo.control("request 125"), "ok \\x00\\x00\\x00\\x00\\x00\\xfa\n");
    for (const Case& c : cases) EXPECT_EQ(sim::EscapeBytes(tavo.model.answer(c.request)), sim::EscapeBytes(c.reply));
    EXPECT_EQ(sim::CreateModel("pellux")->answer(Req(158, 10)), Bytes({0, 0}) + "PLUX-105");

    ASSERT_EQ(tavo.control("set-counts 1 7 0x01020304"), "ok\n");
    const std::string block = tavo.model.answer(Bytes({0, 0, 0, 0x0E, 0, 0, 2, 2, 0xBB, 0, 0, 0, 0, 1}));
    ASSERT_EQ(block.size(), 514u);
    EXPECT_EQ(block.substr(0, 10), Bytes({0, 0, 0, 0, 0, 7, 1, 2, 3, 4}));
    EXPECT_EQ(block.find_first_not_of('\0', 10), std::string::npos);
    EXPECT_EQ(tavo.control("request 187 1").size(), 3 + 4 * 514u + 1) << "a request asks for the 128 channels";
}

TEST(MmcmdModel, EverySetIsShownByItsShowCommand) {
    struct Case {
        int set;
        WordList words;
        int show;
        WordList shown;  // a SHOW with an index word asks with shown[0] first
    };
    const Case cases[] = {
        {52, {7}, 111, {7}},
        {54, {0x3F800000}, 113, {0x3F800000}},
        {80, {0xFFFFFFFB}, 149, {0xFFFFFFFB}},
        {59, {1200}, 120, {1200}},
        {21, {}, 118, {1200, 1}},
        {21, {}, 119, {1200}},
        {12, {}, 118, {1200, 0}},
        {12, {}, 119, {0}},
        {70, {2500}, 137, {1, 2500}},
        {82, {0x40000000}, 151, {0, 0x40000000}},
        {26, {}, 151, {1, 0x40000000}},
        {256, {3}, 257, {3}},
        {68, {}, 131, {1}},
        {66, {}, 131, {0}},
        {77, {}, 144, {1}},
        {214, {}, 144, {2}},
        {76, {0}, 144, {0}},
        {55, {}, 114, {1}},
        {245, {1}, 246, {1}},
        {260, {}, 262, {1}},
        {261, {}, 262, {0}},
        {53, {1024}, 112, {1024}},
        {63, {500}, 127, {500}},
        {87, {700}, 155, {700}},
        {6, {}, 127, {0}},
        {218, {2, 77}, 219, {2, 77}},
        {198, {0x3F000000, 9}, 207, {9, 0x3F000000}},
        {199, {10, 20, 4}, 200, {4, 10, 20}},
    };
    Tavo tavo;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        EXPECT_EQ(tavo.ask(c.set, c.words), Ok({}));
        const bool indexed = c.show == 219 || c.show == 207 || c.show == 200;
        const WordList ask = indexed ? WordList{c.shown[0]} : WordList{};
        const WordList expected(c.shown.begin() + (indexed ? 1 : 0), c.shown.end());
        EXPECT_EQ(tavo.show(c.show, expected.size(), ask), expected) << c.show;
    }
    EXPECT_EQ(tavo.control("reg 111"), "ok 7\n");
    EXPECT_EQ(tavo.control("reg 200/4"), "ok 10 20\n");
}

TEST(MmcmdModel, WhatTheInstrumentDoesNotTakeIsRefusedAndChangesNothing) {
    struct Case {
        std::string request;
        int micro;
    };
    const Case cases[] = {
        {Req(53, 2, {1000}), 132},         {Req(53, 2, {32768}), 132},       {Req(53, 2, {256}), 132},
        {Req(52, 2, {}), 132},             {Req(52, 2, {1, 2}), 132},        {Req(76, 2, {3}), 132},
        {Req(938, 2, {4}), 132},           {Req(45, 2, {30, 2, 24}), 132},   {Req(83, 2, {24, 0, 0}), 132},
        {Req(72, 2, {16380, 5}), 132},     {Req(43, 2, {0, 16385, 1}), 132}, {Req(121, 2, {1}), 132},
        {Req(219, 2, {4}), 132},           {Req(218, 2, {4, 1}), 132},       {Req(79, 2, {}, "no end"), 132},
        {Req(79, 2, {}, std::string("A\0B", 3)), 132},   {Req(111, 2, {1}), 132},          {Req(44, 2, {}, std::string("x\0", 2)), 132},
        {Req(2, 2, {5}), 132},             {Req(0, 2), 133},                 {Req(300, 2), 133},
    };
    Tavo tavo;
    ASSERT_EQ(tavo.control("set-counts 16380 1 2 3 4"), "ok\n");
    const std::string before = tavo.control("counts 16370 14") + tavo.control("reg 112") + tavo.control("reg 144");
    for (const Case& c : cases) {
        EXPECT_EQ(tavo.model.answer(c.request), Bytes({131, c.micro})) << sim::EscapeBytes(c.request);
    }
    EXPECT_EQ(tavo.control("counts 16370 14") + tavo.control("reg 112") + tavo.control("reg 144"), before);
    EXPECT_EQ(tavo.control("memory 32768"), "ok\n");
    EXPECT_EQ(tavo.ask(53, {32768}), Ok({}));
    EXPECT_EQ(tavo.control("memory 1000"), "ok\n");
    EXPECT_EQ(tavo.control("reg 112"), "ok 512\n") << "the gain follows a smaller memory";
}

TEST(MmcmdModel, TextsAndDataApplicationValues) {
    Tavo tavo;
    const std::string nul("\0", 1);
    EXPECT_EQ(tavo.model.answer(Req(79, 2, {}, "SN-4711" + nul)), Ok({}));
    EXPECT_EQ(tavo.model.answer(Req(146, 12)), Bytes({0, 0}) + "SN-4711" + Bytes({0, 0, 0}));
    EXPECT_EQ(tavo.model.answer(Req(205, 2, {3}, "Cs-137 line" + nul)), Ok({}));
    EXPECT_EQ(tavo.model.answer(Req(206, 13, {3})), Bytes({0, 0}) + "Cs-137 line");
    EXPECT_EQ(tavo.model.answer(Req(206, 4, {2})), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(tavo.model.answer(Req(241, 2)), Ok({}));
    EXPECT_EQ(tavo.model.answer(Req(242, 6)), Bytes({0, 0}) + "ANT" + nul);
    EXPECT_EQ(tavo.model.answer(Req(938, 2, {3})), Ok({}));
    EXPECT_EQ(tavo.control("text 242"), "ok INH\n");
    EXPECT_EQ(tavo.control("text 916"), "ok SHUTDOWN TTL KELDA SMART\\n\n");
    EXPECT_EQ(tavo.control("text 158 PLUX-105"), "ok\n");
    EXPECT_EQ(tavo.model.answer(Req(158, 10)), Bytes({0, 0}) + "PLUX-105");
    EXPECT_EQ(tavo.model.answer(Req(97, 92)).substr(2),
              "16384" "00001" "16384" + std::string(75, '0'));

    const std::string value(126, 'v');
    for (int i = 0; i < 64; ++i) {
        const std::string name = "name" + std::to_string(i);
        ASSERT_EQ(tavo.model.answer(Req(44, 2, {}, name + nul + (i == 7 ? value : "x") + nul)), Ok({})) << i;
    }
    EXPECT_EQ(tavo.model.answer(Req(44, 2, {}, "name64" + nul + "x" + nul)), Bytes({131, 135}));
    EXPECT_EQ(tavo.model.answer(Req(44, 2, {}, "name1" + nul + value + "v" + nul)), Bytes({131, 132}));
    EXPECT_EQ(tavo.model.answer(Req(44, 2, {}, "name1" + nul + "y" + nul)), Ok({})) << "a known name takes a new value";
    EXPECT_EQ(tavo.model.answer(Req(103, 130, {}, "name7" + nul)), Bytes({0, 0}) + value + Bytes({0, 0}));
    EXPECT_EQ(tavo.model.answer(Req(103, 4, {}, "name1" + nul)), Bytes({0, 0}) + "y" + nul);
    EXPECT_EQ(tavo.model.answer(Req(103, 4, {}, "name64" + nul)), Bytes({131, 132, 0, 0})) << "a name never set";
}

TEST(MmcmdModel, TheClockRunsFromWhatWasSetAndTheRunKeepsItsStart) {
    Tavo tavo;
    EXPECT_EQ(tavo.show(104, 3), WordList({0, 0, 0})) << "not set";
    EXPECT_EQ(tavo.ask(83, {23, 59, 30}), Ok({}));
    EXPECT_EQ(tavo.control("date").substr(0, 20), "ok 2000-01-01 23:59:");
    EXPECT_EQ(tavo.ask(45, {29, 2, 24}), Ok({}));
    EXPECT_EQ(tavo.ask(45, {30, 2, 24}), Bytes({131, 132}));
    EXPECT_EQ(tavo.show(104, 3), WordList({29, 2, 24}));
    EXPECT_EQ(tavo.show(152, 2), WordList({23, 59}));
    EXPECT_EQ(tavo.ask(165), Ok({}));
    EXPECT_EQ(tavo.show(105, 3), WordList({29, 2, 24}));
    EXPECT_EQ(tavo.show(153, 2), WordList({23, 59}));
    EXPECT_EQ(tavo.ask(46, {1, 3, 25}), Ok({}));
    EXPECT_EQ(tavo.ask(84, {6, 7, 8}), Ok({}));
    EXPECT_EQ(tavo.show(105, 3), WordList({1, 3, 25}));
    EXPECT_EQ(tavo.show(153, 3), WordList({6, 7, 8}));
    EXPECT_EQ(tavo.show(104, 3), WordList({29, 2, 24})) << "the running clock is another";
}

TEST(MmcmdModel, PresetsRoisSumsAndTheBlockTransfer) {
    Tavo tavo;
    EXPECT_EQ(tavo.ask(72, {1000, 100}), Ok({}));
    EXPECT_EQ(tavo.ask(72, {2000, 10}), Ok({}));
    EXPECT_EQ(tavo.ask(7, {1050, 50}), Ok({}));
    EXPECT_EQ(tavo.show(140, 2), WordList({1000, 50}));
    EXPECT_EQ(tavo.show(133, 2), WordList({2000, 10}));
    EXPECT_EQ(tavo.show(133, 2), WordList({0, 0}));
    EXPECT_EQ(tavo.ask(60, {400}), Ok({}));
    EXPECT_EQ(tavo.ask(63, {100000}), Ok({}));
    EXPECT_EQ(tavo.ask(165), Ok({}));
    EXPECT_EQ(tavo.show(93, 1), WordList({1}));
    for (int step = 0; step < 100000 && tavo.model.acquiring(); ++step) tavo.model.advance(20000);
    EXPECT_EQ(tavo.show(93, 1), WordList({0}));

    uint64_t first = 0, rois = 0, peak = 0, peakChannel = 0, block = 0;
    for (uint32_t channel = 1000; channel < 1050; ++channel) first += tavo.model.count(channel);
    for (uint32_t channel = 2000; channel < 2010; ++channel) rois += tavo.model.count(channel);
    rois += first;
    for (uint32_t channel = 0; channel < 4096; ++channel) {
        if (tavo.model.count(channel) > peak) peak = tavo.model.count(channel), peakChannel = channel;
    }
    EXPECT_GE(rois, 400u);
    EXPECT_EQ(tavo.model.roiIntegral(), rois);
    EXPECT_EQ(tavo.show(147, 4), WordList({uint32_t(tavo.model.liveTicks()), uint32_t(tavo.model.trueTicks()), 0, 4}));
    EXPECT_EQ(tavo.show(123, 1), WordList({0}));
    EXPECT_EQ(tavo.show(128, 1), WordList({uint32_t(100000 - tavo.model.liveTicks())}));
    EXPECT_EQ(tavo.show(121, 1, {1000, 50}), WordList({uint32_t(first)}));
    EXPECT_EQ(tavo.show(134, 1, {0, 4096}), WordList({uint32_t(peak)}));
    EXPECT_EQ(tavo.show(135, 1, {0, 4096}), WordList({uint32_t(peakChannel)}));
    const WordList counts = tavo.show(187, 128, {960});
    for (uint32_t i = 0; i < 128; ++i) block += counts[i] == tavo.model.count(960 + i);
    EXPECT_EQ(block, 128u);

    EXPECT_EQ(tavo.ask(43, {16380, 4, 9}), Ok({}));
    EXPECT_EQ(tavo.show(187, 8, {16380}), WordList({9, 9, 9, 9, 0, 0, 0, 0})) << "nothing past the memory";
    EXPECT_EQ(tavo.ask(4, {0, 32768}), Ok({}));
    EXPECT_EQ(tavo.show(154, 1), WordList({0}));
    EXPECT_EQ(tavo.show(187, 1, {16380}), WordList({9})) << "CLEAR_COUNTER keeps the counts";
    EXPECT_EQ(tavo.ask(5, {0, 32768}), Ok({}));
    EXPECT_EQ(tavo.show(121, 1), WordList({0}));
}

TEST(MmcmdModel, NoiseIsDroppedWithoutGrowingTheBuffer) {
    struct Case {
        std::string bytes;
        size_t length;
        size_t reply;  // 0: none
    };
    const std::string frame = Req(125, 6);
    const Case cases[] = {
        {frame, 10, 6},
        {frame.substr(0, 9), 0, 0},
        {Bytes({0, 0, 0, 9}) + frame, 14, 6},                        // a total below 10
        {Bytes({0, 0, 4, 1, 0, 0, 0, 6}) + frame, 18, 6},            // above 1024
        {Bytes({0, 0, 0, 10, 0, 0, 4, 1, 0x7D, 0}) + frame, 20, 6},  // a reply above 1024
        {Bytes({0, 0, 0, 10, 0, 0, 0, 1, 0x7D, 0}) + frame, 20, 6},  // a reply below 2
        {std::string(300, '\x55'), 300, 0},
        {std::string(250, '\x55') + frame.substr(0, 6), 0, 0},
        {std::string(300, '\x55') + frame, 300, 0},
    };
    Tavo tavo;
    for (const Case& c : cases) {
        const size_t length = tavo.model.requestLength(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(length, c.length) << sim::EscapeBytes(c.bytes);
        if (length) {
            EXPECT_EQ(tavo.model.answer(c.bytes.substr(0, length)).size(), c.reply);
        }
    }
    EXPECT_EQ(tavo.model.rejection(frame), Bytes({131, 133, 0, 0, 0, 0}));
}

TEST(MmcmdModel, AConfiguredPairRefusesOrJoinsTheAnswer) {
    Tavo tavo;
    EXPECT_EQ(tavo.control("error 52 131 1"), "ok\n");
    EXPECT_EQ(tavo.control("error 111 0 7"), "ok\n");
    EXPECT_EQ(tavo.ask(52, {9}), Bytes({131, 1}));
    EXPECT_EQ(tavo.control("reg 111"), "ok\n") << "refused: not carried out";
    EXPECT_EQ(tavo.control("error 52 clear"), "ok\n");
    EXPECT_EQ(tavo.ask(52, {9}), Ok({}));
    EXPECT_EQ(tavo.ask(111, {}, 6), Bytes({0, 7, 0, 0, 0, 9}));
    EXPECT_EQ(tavo.control("error 111"), "ok 0 7\n");
    EXPECT_EQ(tavo.control("reg 125 5"), "err SHOW_LIVE is the instrument's own reading, not stored\n");
    EXPECT_EQ(tavo.control("reg 146"), "err usage: reg CODE[/INDEX] [WORD...], CODE a command answering words, "
                                       "INDEX within its table\n");
}

TEST(MmcmdProgram, AnswersAtItsOwnRateAndItsFaultsKeepTheFrames) {
    char directory[] = "/tmp/linkbay-tavo-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const ScopedVariable windir("LINKBAY_WINDIR", directory);
    {
        SimulatorProgram program(1, {"--no-pacing"}, "tavo");
        ASSERT_TRUE(program.ready()) << program.problem();
        const std::string link = std::string(directory) + "/com1";
        DriverPort port;
        ASSERT_TRUE(port.open(link, CBR_9600));
        EXPECT_EQ(port.exchange(Req(158, 10)), "") << "9600 baud is not the instrument's";
        ASSERT_TRUE(port.open(link, CBR_38400));
        const std::string version = Bytes({0, 0}) + "TAVO-210";
        EXPECT_EQ(port.exchange(Req(158, 10)), version);
        struct Case {
            const char* fault;
            std::string seen;
        };
        const Case cases[] = {
            {"silence", ""},
            {"short", version.substr(0, 5)},
            {"stall", version.substr(0, 5)},
            {"garbage 10", "#%&*+-/<=>"},
            {"reject", Bytes({131, 133}) + std::string(8, '\0')},
            {"reply \\x00\\x01", Bytes({0, 1})},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(program.control(std::string("fault next ") + c.fault).substr(0, 3), "ok ") << c.fault;
            EXPECT_EQ(sim::EscapeBytes(port.exchange(Req(158, 10))), sim::EscapeBytes(c.seen)) << c.fault;
            EXPECT_EQ(port.exchange(Req(158, 10)), version) << "after " << c.fault;
        }
        EXPECT_EQ(program.control("fault next hangup 200").substr(0, 3), "ok ");
        std::string nothing;
        EXPECT_TRUE(port.write(Req(158, 10)));
        EXPECT_TRUE(Eventually([&] { return !port.read(0, nothing); })) << "a zero-byte read must see the hang-up";
        EXPECT_TRUE(Eventually([&] { return program.control("status").find("returns=1") != std::string::npos; }));
        ASSERT_TRUE(port.open(link, CBR_38400));
        EXPECT_EQ(port.exchange(Req(158, 10)), version);
        EXPECT_EQ(program.control("status"), "ok acquiring=0 exchanges=16 returns=1\n");
    }
    rmdir(directory);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
