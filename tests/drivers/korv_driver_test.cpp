// The KORV driver over a real pty against a scripted instrument that
// acknowledges every command it has no script for: the bytes on the wire,
// the records answered and the error pairs, for what the simulated
// instrument cannot say (malformed transfers, silence before an answer,
// any configured rate) and for command lines the driver settles with
// replies of its choosing (argument checks, small buffers, odd values).
// Probes, refusals, garbage, every width, the unset clock and the command
// sequences are tested against the simulator (tests/e2e/korv_sim_test.cpp).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cmdlang/records.h"
#include "drivers/korv/korvci.h"
#include "drivers/scripted_instrument.h"
#include "platform/test_hooks.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {


using Texts = std::vector<std::string>;

struct KorvDebugLines {
    KorvDebugLines() {
        platform::SetDebugCapture([](const char* s, void* p) { static_cast<Texts*>(p)->push_back(s); }, &texts);
    }
    ~KorvDebugLines() { platform::SetDebugCapture(nullptr, nullptr); }
    Texts texts;
};

struct KorvResult {
    bool bOk;
    std::string sResp;
    int32_t nLen;
    int32_t nMac;
    int32_t nMic;
};

// The record a writer makes of the values: the expected answer.
template <typename Writer, typename... Values>
std::string Record(Writer pfnWrite, Values... values) {
    char sz[128] = {};
    int32_t nLen = 0;
    pfnWrite(static_cast<int32_t>(sizeof sz), sz, nLen, values...);
    return sz;
}

struct KorvRig {
    static constexpr int kPort = 1;
    static constexpr int32_t kMcb = 97;

    // bAttach false leaves the identification to the test.
    explicit KorvRig(bool bAttach = true, const std::string& sIni = std::string()) {
        sDir = UseFreshEnvironment();
        if (!sIni.empty()) WritePrivateProfileStringA("CONFIG", "BaudRate", sIni.c_str(), "DETHUB.INI");
        instrument = std::make_unique<ScriptedInstrument>(kPort);
        instrument->SetFallback([](const std::string&) { return std::string("ok\r\n"); });
        instrument->Script("33", "33 4096\r\n");
        driver = std::make_unique<KORVCI>(kMcb);
        if (bAttach) {
            Attach();
            instrument->Clear();
        }
    }
    void Attach() { driver->Attach(RS232CI::COMOpen(kPort)); }

    KorvResult Exec(const std::string& sLine, int32_t nSize = 256) {
        KorvResult r{false, {}, 0, 0, 0};
        std::vector<char> buffer(static_cast<size_t>(nSize) + 1, '\0');
        r.bOk = driver->ExecLine(1, sLine.c_str(), nSize, buffer.data(), &r.nLen, &r.nMac, &r.nMic);
        r.sResp = buffer.data();
        return r;
    }
    Texts Wire() { return instrument->Received(); }

    std::string sDir;
    std::unique_ptr<ScriptedInstrument> instrument;
    std::unique_ptr<KORVCI> driver;
};


std::string Reply(const std::string& sCommand, const std::string& sValue) { return sCommand + " " + sValue + "\r\n"; }

// Slots 1..29 of the instrument's ROI table; unlisted slots are empty.
void ScriptRois(ScriptedInstrument& instrument, const std::map<int, std::string>& slots) {
    for (int n = 1; n <= kKorvRoiSlots; ++n) {
        const auto it = slots.find(n);
        instrument.Script("f6 " + std::to_string(n), Reply("f6", it != slots.end() ? it->second : "00 0001 0000"));
    }
}

Texts RoiQueries() {
    Texts texts;
    for (int n = 1; n <= kKorvRoiSlots; ++n) texts.push_back("f6 " + std::to_string(n));
    return texts;
}

Texts Join(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- link -------------------------------------------------------------------

TEST(KorvLink, AttachProbesTwiceAndTakesTheConversionGain) {
    KorvRig rig(false);
    rig.Attach();
    EXPECT_EQ(rig.Wire(), (Texts{"33", "12 0"}));
    EXPECT_TRUE(rig.driver->IsUnitPresent(1));
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(rig.driver->m_hPort, &timeouts));
    EXPECT_EQ(std::vector<DWORD>({timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                                  timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                                  timeouts.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({1000, 5, 2000, 0, 5000}));
    EXPECT_EQ(rig.Exec("SHOW_WINDOW").sResp, Record(FormatD, 0, 4096));
    EXPECT_EQ(rig.driver->WriteData(1, 0, 0, 1, 0, nullptr), -10);
}

TEST(KorvLink, BaudRateComesFromTheConfigurationWithinItsLimits) {
    struct Case {
        const char* pszIni;
        const char* pszUart;
        uint32_t nLineBaud;
    };
    const Case cases[] = {
        {"299", "009600N81", 9600}, {"300", "000300N81", 300}, {"115200", "115200N81", 115200}, {"128000", "128000N81", 0},
        {"128001", "009600N81", 9600}, {"fast", "009600N81", 9600}, {" 19200x", "019200N81", 19200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszIni);
        KorvRig rig(true, c.pszIni);
        EXPECT_EQ(rig.Exec("SHOW_CONF_UART").sResp, Record(FormatF, c.pszUart));
        if (c.nLineBaud == 0) continue;  // accepted, though a pty may not take the rate
        const LineSettings line = rig.instrument->Settings();
        EXPECT_EQ(line.baud, c.nLineBaud);
        EXPECT_EQ(std::string(1, line.parity) + std::to_string(line.dataBits) + std::to_string(line.stopBits), "N81");
    }
}

TEST(KorvLink, AStalledReplyIsAskedForOnceMore) {
    KorvRig rig;
    rig.instrument->Script("37", std::vector<std::string>{"", Reply("37", "2048")});
    KorvDebugLines debug;
    const long long nStart = NowMs();
    const KorvResult r = rig.Exec("SHOW_GAIN_FINE");
    const long long nElapsed = NowMs() - nStart;
    EXPECT_TRUE(r.bOk);
    EXPECT_EQ(r.sResp, Record(FormatC, 2048));
    EXPECT_EQ(r.nMac, 0);
    EXPECT_EQ(rig.Wire(), (Texts{"37", "37"}));
    ASSERT_EQ(debug.texts.size(), 2u);
    EXPECT_EQ(debug.texts[0], "RS232CI::COMRead(): Incomplete ReadFile(), wanted 4, got 0\r\n");
    EXPECT_EQ(debug.texts[1].rfind("KORVCI::QueryInstrument(COM1: \"37\r\"): Error reading response:\r\n    ", 0), 0u);
    EXPECT_GE(nElapsed, 1500);  // the 2 s read time-out of the first attempt
}

// ---- spectrum -----------------------------------------------------------------

uint32_t Count(uint32_t nChannel, int nWidth) {
    const uint32_t n = nChannel * 2654435761u + 12345u;
    return nWidth == 1 ? (n >> 24) : nWidth == 2 ? (n >> 16) : (n & 0x7FFFFFFFu);
}

std::string Spectrum(int nWidth, int nChannels) {
    static const char* const kFormats[] = {"", "0100", "0200", "", "0400"};
    std::string s = "fb go\r\nCHANNELS " + std::to_string(nChannels) + "\n" + kFormats[nWidth];
    for (int i = 0; i < nChannels; ++i) {
        const uint32_t n = Count(static_cast<uint32_t>(i), nWidth);
        for (int b = 0; b < nWidth; ++b) s.push_back(static_cast<char>((n >> (8 * b)) & 0xFF));
    }
    return s;
}

TEST(KorvSpectrum, BadArgumentsAndEmptyReadsSendNothing) {
    KorvRig rig;
    struct Case {
        int32_t nDet, nSegment, nFirst, nCount, nResult;
    };
    const Case cases[] = {
        {2, 0, 0, 10, -1}, {1, 1, 0, 10, -1}, {1, 0, 4000, 97, -1}, {1, 0, -1, 10, -1},
        {1, 0, 0x7FFFFFF0, 0x20, -1}, {1, 0, 0, 0, 1}, {1, 0, 100, -5, 1},
    };
    for (const Case& c : cases) {
        uint32_t dwDest[4] = {7, 7, 7, 7};
        EXPECT_EQ(rig.driver->ReadData(c.nDet, c.nSegment, c.nFirst, c.nCount, dwDest), c.nResult);
        EXPECT_EQ(dwDest[0], 7u);
    }
    EXPECT_EQ(rig.driver->ReadData(1, 0, 0, 4, nullptr), -1);
    EXPECT_EQ(rig.Wire(), Texts{});
}

// Every transfer, failed or not, leaves the instrument's ROI in the table
// that the next ROI change writes back.
TEST(KorvSpectrum, MalformedTransfersNeitherWritePastTheArrayNorLoseRois) {
    struct Case {
        const char* pszName;
        std::string sReply;
        int32_t nResult;
        uint32_t dwFirst;
        // The rest of a reply larger than the line holds is still on its way
        // and would meet the next exchange: no ROI change follows it.
        bool bStillStreaming = false;
    };
    const Case cases[] = {
        {"refused", "? \r\n", -3, 7},
        {"too many channels", "fb go\r\nCHANNELS 4097\n0400" + std::string(4097 * 4, '\1'), -3, 7, true},
        {"count line without end", "fb go\r\n" + std::string(40, 'x'), -3, 7},
        {"long header", "fb 0123456789012345678901234\r\n", -3, 7},
        {"channel data cut short", "fb go\r\nCHANNELS 16\n0400" + std::string(10, '\xff'), -3, 7},
        {"count reaching the flag bit", "fb go\r\nCHANNELS 2\n0400" + std::string(8, '\xff'), 1, 0x7FFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        KorvRig rig;
        ScriptRois(*rig.instrument, {{1, "01 0100 0199"}});
        ASSERT_EQ(rig.Exec("SHOW_ROI").sResp, Record(FormatD, 100, 100));
        rig.instrument->Script("fb", c.sReply);
        uint32_t dwDest[2] = {7, 7};
        EXPECT_EQ(rig.driver->ReadData(1, 0, 0, 2, dwDest), c.nResult);
        EXPECT_EQ(dwDest[0], c.dwFirst);
        if (c.bStillStreaming) continue;
        rig.instrument->Clear();
        EXPECT_TRUE(rig.Exec("SET_ROI 300,10").bOk);
        EXPECT_EQ(rig.Wire(), (Texts{"a1", "a2 01 0100 0199", "a4 1 0", "a2 02 0300 0309", "a4 2 0"}));
    }
}

DWORD g_dwTick = 0;

const char kReaderTick[] = "LINKBAY_KORV_READER_TICK";

// Run as a second process by the test below: reads the MCB's first channels
// at the tick it is given, with no port of its own, and prints what it got.
TEST(KorvSpectrum, OtherProcessReader) {
    const char* pszTick = std::getenv(kReaderTick);
    if (pszTick == nullptr) GTEST_SKIP() << "only as the other process of the shared-cache test";
    g_dwTick = static_cast<DWORD>(std::strtoul(pszTick, nullptr, 10));
    platform::SetTickSource([](void*) { return g_dwTick; }, nullptr);
    KORVCI reader(KorvRig::kMcb);
    uint32_t dwData[4] = {};
    const int32_t nResult = reader.ReadData(1, 0, 0, 4, dwData);
    std::printf("READ %d %u %u %u %u\n", nResult, dwData[0], dwData[1], dwData[2], dwData[3]);
    std::fflush(stdout);
}

std::string ReadInOtherProcess(DWORD dwTick) {
    setenv(kReaderTick, std::to_string(dwTick).c_str(), 1);
    ChildProcess reader(::testing::internal::GetArgvs()[0], {"--gtest_filter=KorvSpectrum.OtherProcessReader"});
    unsetenv(kReaderTick);
    for (std::string sLine = reader.readLine(); !sLine.empty(); sLine = reader.readLine()) {
        if (sLine.rfind("READ ", 0) == 0) return sLine;
    }
    return "no answer";
}

TEST(KorvSpectrum, ReadsWithin500MsShareOneTransferAcrossProcesses) {
    platform::SetTickSource([](void*) { return g_dwTick; }, nullptr);
    const std::pair<DWORD, size_t> cases[] = {{400, 1}, {500, 1}, {600, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        KorvRig rig;
        rig.instrument->Script("fb", Spectrum(2, 16));
        ScriptRois(*rig.instrument, {});
        uint32_t dwData[16];
        g_dwTick = 0xFFFFFF00u;  // the tick count wraps between the reads
        ASSERT_EQ(rig.driver->ReadData(1, 0, 0, 16, dwData), 1);
        g_dwTick += c.first;
        // Within 500 ms the other process is served from the shared data;
        // later it must go to the instrument, which it has no port for.
        const std::string sExpected = c.second == 1 ? "READ 1 " + std::to_string(Count(0, 2)) + " " +
                                                          std::to_string(Count(1, 2)) + " " + std::to_string(Count(2, 2)) +
                                                          " " + std::to_string(Count(3, 2))
                                                    : "READ -3 0 0 0 0";
        EXPECT_EQ(ReadInOtherProcess(g_dwTick), sExpected);
        EXPECT_EQ(rig.driver->ReadData(1, 0, 0, 16, dwData), 1);
        const Texts wire = rig.Wire();
        EXPECT_EQ(std::count(wire.begin(), wire.end(), "fb"), static_cast<long>(c.second));
        EXPECT_EQ(dwData[3], Count(3, 2));
    }
    platform::SetTickSource(nullptr, nullptr);
}

TEST(KorvRoi, TheTableKeeps29RunsAndClosesARunAtTheLastChannel) {
    KorvRig rig;
    for (int i = 0; i < 30; ++i) {
        rig.instrument->Clear();
        ASSERT_EQ(rig.Exec("SET_ROI " + std::to_string(i * 10) + ",2").nMac, 0);
    }
    Texts expected{"a1"};
    for (int n = 1; n <= kKorvRoiSlots; ++n) {
        char sz[32];
        std::snprintf(sz, sizeof sz, "a2 %02d %04d %04d", n, (n - 1) * 10, (n - 1) * 10 + 1);
        expected.push_back(sz);
        expected.push_back("a4 " + std::to_string(n) + " 0");
    }
    EXPECT_EQ(rig.Wire(), expected);

    KorvRig edge;
    EXPECT_TRUE(edge.Exec("SET_ROI 4090,6").bOk);
    EXPECT_EQ(edge.Wire(), (Texts{"a1", "a2 01 4090 4095", "a4 1 0"}));
    edge.instrument->Clear();
    EXPECT_EQ(edge.Exec("SHOW_ROI").sResp, Record(FormatD, 4090, 6));
    EXPECT_EQ(edge.Exec("SHOW_NEXT").sResp, Record(FormatD, 0, 0));
    EXPECT_EQ(edge.Wire(), Texts{});  // the table is known: nothing asked
}

// ---- elapsed times -----------------------------------------------------------------

TEST(KorvTimes, ElapsedTimesFollowModeTimeBaseAndLivePercentage) {
    struct Case {
        const char* pszLine;
        const char* pszMode;
        const char* pszBase;
        std::vector<std::string> minutesThenSeconds;
        const char* pszPercent;
        uint32_t nTicks;
        Texts wire;
    };
    const Texts kPresets{"40", "31", "32"};
    const Case cases[] = {
        {"SHOW_TRUE", "0", "0", {"120"}, "0", 6000, Join(kPresets, {"02 0", "66", "68"})},
        {"SHOW_LIVE", "0", "0", {"120"}, "0", 6000, Join(kPresets, {"02 0", "66", "68"})},
        {"SHOW_TRUE", "0", "0", {"120"}, "50", 12000, Join(kPresets, {"02 0", "66", "68"})},
        {"SHOW_TRUE", "0", "0", {"120"}, "150", 6000, Join(kPresets, {"02 0", "66", "68"})},
        {"SHOW_LIVE", "1", "0", {"120"}, "25", 1500, Join(kPresets, {"02 0", "66", "68"})},
        {"SHOW_LIVE", "1", "0", {"1"}, "33", 17, Join(kPresets, {"02 0", "66", "68"})},
        {"SHOW_TRUE", "1", "1", {"1091", "65460"}, "100", 65460 * 50,
         Join(kPresets, {"02 1", "66", "02 0", "66", "02 1", "68"})},
        {"SHOW_TRUE", "1", "1", {"1092"}, "100", 65520 * 50, Join(kPresets, {"02 1", "66", "68"})},
        // Wider than 32 bits: held at the most the tick arithmetic carries.
        {"SHOW_LIVE", "0", "0", {"4294967296"}, "100", 0x7FFFFFFFu, Join(kPresets, {"02 0", "66", "68"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszLine) + " mode " + c.pszMode + " base " + c.pszBase + " " + c.minutesThenSeconds[0]);
        KorvRig rig;
        rig.instrument->Script("40", Reply("40", c.pszMode));
        rig.instrument->Script("31", Reply("31", "100"));
        rig.instrument->Script("32", Reply("32", c.pszBase));
        std::vector<std::string> elapsed;
        for (const std::string& s : c.minutesThenSeconds) elapsed.push_back(Reply("66", s));
        rig.instrument->Script("66", elapsed);
        rig.instrument->Script("68", Reply("68", c.pszPercent));
        const KorvResult r = rig.Exec(c.pszLine);
        EXPECT_TRUE(r.bOk);
        EXPECT_EQ(r.sResp, Record(FormatG, c.nTicks));
        EXPECT_EQ(rig.Wire(), c.wire);
    }
}

// ---- command translation ------------------------------------------------------------

struct CommandCase {
    const char* pszName;
    std::map<std::string, std::string> replies;
    Texts lines;  // all but the last only prepare
    Texts wire;   // everything the lines sent
    std::string sResp;
    int32_t nMac;
    int32_t nMic;
    bool bOk;
    int32_t nSize;
};

std::map<std::string, std::string> Merge(std::map<std::string, std::string> a,
                                         const std::map<std::string, std::string>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

std::string Configuration() { return Record(FormatJ, ("0409600001" "04096" + std::string(75, '0')).c_str()); }

TEST(KorvCommands, EachLineSendsItsDeviceCommandsAndAnswersItsRecord) {
    const std::map<std::string, std::string> kClock{{"5f", Reply("5f", "12 25 26 10 30 45")}};
    const std::map<std::string, std::string> kTenSecondsTrue{
        {"40", Reply("40", "1")}, {"31", Reply("31", "10")}, {"32", Reply("32", "0")},
        {"66", Reply("66", "9")}, {"68", Reply("68", "50")}};
    const Texts kReadPresets{"40", "31", "32"};
    const CommandCase cases[] = {
        {"live preset reported", {}, {"SET_LIVE_PRESET 500", "SHOW_LIVE_PRESET"}, {"10 0", "02 0", "01 10"}, Record(FormatG, 500), 0, 0, true, 256},
        {"other mode's preset", kTenSecondsTrue, {"SHOW_LIVE_PRESET"}, kReadPresets, Record(FormatG, 0), 0, 0, true, 256},
        {"start before the true preset", kTenSecondsTrue, {"START 5"}, Join(kReadPresets, {"02 0", "66", "68", "92 0"}), "", 0, 0, true, 256},
        {"roi without length", {}, {"SET_ROI 100,0"}, {}, "", 131, 129, true, 256},
        {"roi beyond the gain", {}, {"SET_GAIN_CONV 1024", "SET_ROI 1024,1"}, {"03 1024"}, "", 131, 128, true, 256},
        {"window too long", {}, {"SET_WINDOW 4000,97"}, {}, "", 131, 129, true, 256},
        {"window at the end", {}, {"SET_WINDOW 4000,96", "SHOW_WINDOW"}, {}, Record(FormatD, 4000, 96), 0, 0, true, 256},
        {"window with one argument", {}, {"SET_WINDOW 5"}, {}, "", 131, 132, true, 256},
        {"window reset", {}, {"SET_WINDOW 4000,96", "SET_WINDOW", "SHOW_WINDOW"}, {}, Record(FormatD, 0, 4096), 0, 0, true, 256},
        {"preset beyond 32 bits", {{"40", Reply("40", "0")}, {"31", Reply("31", "4000000000")}, {"32", Reply("32", "1")}},
         {"SHOW_LIVE_PRESET"}, kReadPresets, Record(FormatG, 0xFFFFFFFFu), 0, 0, true, 256},
        {"positive target off", {{"35", Reply("35", "800")}, {"4f", Reply("4f", "0")}}, {"SHOW_HV_TARGET"}, {"35", "4f"}, Record(FormatD, 800, 2), 0, 0, true, 256},
        {"high voltage magnitude", {}, {"SET_HV -1500"}, {"05 1500"}, "", 0, 0, true, 256},
        {"polarity kept", {{"35", Reply("35", "1500")}}, {"SET_HV_POS"}, {"35"}, "", 0, 0, true, 256},
        {"battery into a small buffer", {{"63", Reply("63", "12.5")}}, {"SHOW_STATUS_BATTERY"}, {"63"}, "", 131, 134, true, 39},
        {"date", kClock, {"SHOW_DATE"}, {"5f"}, Record(FormatN, 25, 12, 26), 0, 0, true, 256},
        {"time", kClock, {"SHOW_TIME"}, {"5f"}, Record(FormatN, 10, 30, 45), 0, 0, true, 256},
        {"start date", {{"79", Reply("79", "01 02 03 04 05 06")}}, {"SHOW_DATE_START"}, {"79"}, Record(FormatN, 2, 1, 3), 0, 0, true, 256},
        {"set time", kClock, {"SET_TIME 1,2,3"}, {"5f", "2f 12 25 26 01 02 03"}, "", 0, 0, true, 256},
        {"set date", kClock, {"SET_DATE 31,1,27"}, {"5f", "2f 01 31 27 10 30 45"}, "", 0, 0, true, 256},
        {"clock unreadable", {{"5f", "? \r\n"}}, {"SHOW_DATE"}, {"5f"}, "", -1, 0, false, 256},
        {"list too small", {}, {"LIST_GAIN_FINE"}, {}, "", 131, 134, true, 25},
        {"list", {}, {"LIST_GAIN_FINE"}, {}, "GAIN_FINE 0.0 1.0 0 4095\n", 0, 0, true, 26},
        {"shaping 600", {}, {"SET_SHAPING 600"}, {"0F 1"}, "", 0, 0, true, 256},
        {"shaping 2", {}, {"SET_SHAPING 2"}, {}, "", 131, 128, true, 256},
        {"active", {{"67", Reply("67", "8192")}}, {"SHOW_ACTIVE"}, {"67"}, Record(FormatC, 1), 0, 0, true, 256},
        {"configuration", {}, {"SHOW_CONF"}, {}, Configuration(), 0, 0, true, 256},
        {"record too small", {}, {"SHOW_WINDOW"}, {}, "", 131, 134, true, 16},
        {"status", Merge(kTenSecondsTrue, {{"67", Reply("67", "1")}, {"64", Reply("64", "-700")}, {"4f", Reply("4f", "1")}}),
         {"SHOW_STATUS"}, Join(kReadPresets, {"02 0", "66", "68", "67", "64", "4f"}), Record(FormatM, 225, 450, 1, 7), 0, 0, true, 256},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        KorvRig rig;
        for (const auto& reply : c.replies) rig.instrument->Script(reply.first, reply.second);
        ScriptRois(*rig.instrument, {});
        KorvResult r{};
        for (size_t i = 0; i < c.lines.size(); ++i) {
            r = rig.Exec(c.lines[i], i + 1 == c.lines.size() ? c.nSize : 256);
        }
        EXPECT_EQ(rig.Wire(), c.wire);
        EXPECT_EQ(r.sResp, c.sResp);
        EXPECT_EQ(r.nMac, c.nMac);
        EXPECT_EQ(r.nMic, c.nMic);
        EXPECT_EQ(r.bOk, c.bOk);
        if (c.sResp.size() > 0 && c.sResp[0] != '$') {
            EXPECT_EQ(r.nLen, static_cast<int32_t>(c.sResp.size()) + (c.pszName == std::string("list") ? 1 : 0));
        }
    }
}

TEST(KorvCommands, PresetClearingAndIntegralPresetsReachEveryRoi) {
    KorvRig rig;
    ScriptRois(*rig.instrument, {{1, "01 0100 0199"}, {2, "02 0300 0300"}, {3, "03 0500 0600"}});
    EXPECT_TRUE(rig.Exec("SET_INTEGRAL_PRESET 1000").bOk);
    EXPECT_EQ(rig.Wire(), Join(RoiQueries(), {"a4 1 1000", "a4 2 1000", "a4 3 1000"}));
    char szStored[16] = {};
    GetPrivateProfileStringA("M97S01", "KRIntPreset", "", szStored, sizeof szStored, "DETHUB.INI");
    EXPECT_STREQ(szStored, "1000");
    EXPECT_EQ(rig.Exec("SHOW_INTEGRAL_PRESET").sResp, Record(FormatG, 1000));
    rig.instrument->Clear();
    EXPECT_TRUE(rig.Exec("CLEAR_PRESETS").bOk);
    EXPECT_EQ(rig.Wire(), (Texts{"10 0", "02 1", "01 65535", "a4 1 0", "a4 2 0", "a4 3 0"}));
    GetPrivateProfileStringA("M97S01", "KRIntPreset", "", szStored, sizeof szStored, "DETHUB.INI");
    EXPECT_STREQ(szStored, "0");
    // INITIALIZE sends the shared preset state back to a reset instrument.
    rig.instrument->Clear();
    EXPECT_TRUE(rig.Exec("INIT").bOk);
    EXPECT_EQ(rig.Wire(), (Texts{"96", "33", "10 0", "02 1", "01 65535", "a4 1 0", "a4 2 0", "a4 3 0"}));
}

TEST(KorvCommands, OtherDetectorsAndRejectedLinesAreNotSent) {
    KorvRig rig;
    int32_t nLen = 0, nMac = 0, nMic = 0;
    char sz[64] = {};
    EXPECT_FALSE(rig.driver->ExecLine(2, "CLEAR", sizeof sz, sz, &nLen, &nMac, &nMic));
    EXPECT_EQ(nMac, -1);
    const KorvResult r = rig.Exec("SET_GAIN_COARSE 65");
    EXPECT_TRUE(r.bOk);
    EXPECT_EQ(r.nMac, 131);
    EXPECT_EQ(r.nMic, 128);
    int32_t nStatus = 0;
    EXPECT_FALSE(rig.driver->IsActive(2, &nStatus));
    EXPECT_EQ(nStatus, 1);
    EXPECT_EQ(rig.Wire(), Texts{});
}

}  // namespace
}  // namespace test
}  // namespace linkbay
