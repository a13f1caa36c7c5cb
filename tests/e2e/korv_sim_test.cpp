// The KORV driver against the simulated instrument over a real pty: both
// sides were written apart, so every case asserts the exact bytes the
// instrument heard and sent, the record the driver answered, and where it
// matters the state the instrument was left in.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cmdlang/records.h"
#include "drivers/korv/korvci.h"
#include "platform/test_hooks.h"
#include "sim/sim_test_support.h"
#include "sim/simulator.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

using Texts = std::vector<std::string>;

constexpr int kPort = 1;
constexpr int32_t kMcb = 97;
const char kRejection[] = "??\r\n";

struct DebugLines {
    DebugLines() {
        platform::SetDebugCapture([](const char* s, void* p) { static_cast<Texts*>(p)->push_back(s); }, &texts);
    }
    ~DebugLines() { platform::SetDebugCapture(nullptr, nullptr); }
    Texts texts;
};

struct TickHook {
    explicit TickHook(DWORD dwStart) : dwTick(dwStart) {
        platform::SetTickSource([](void* p) { return static_cast<TickHook*>(p)->dwTick; }, this);
    }
    ~TickHook() { platform::SetTickSource(nullptr, nullptr); }
    DWORD dwTick;
};

template <typename Writer, typename... Values>
std::string Record(Writer pfnWrite, Values... values) {
    char sz[128] = {};
    int32_t nLen = 0;
    pfnWrite(static_cast<int32_t>(sizeof sz), sz, nLen, values...);
    return sz;
}

struct Result {
    bool bOk = false;
    std::string sResp;
    int32_t nMac = 0;
    int32_t nMic = 0;
};

sim::SimulatorOptions Quick() {
    sim::SimulatorOptions options;
    options.pacing = false;
    options.manualClock = true;
    return options;
}

// Puts back the variables a rig changes, for the tests that share this process.
class SavedEnvironment {
public:
    SavedEnvironment() {
        for (const char* pszName : kNames) {
            const char* pszValue = getenv(pszName);
            m_values.emplace_back(pszValue != nullptr, pszValue != nullptr ? pszValue : "");
        }
    }
    ~SavedEnvironment() {
        for (size_t i = 0; i < m_values.size(); ++i) {
            if (m_values[i].first) {
                setenv(kNames[i], m_values[i].second.c_str(), 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }

private:
    static constexpr const char* kNames[] = {"LINKBAY_IPC_NAMESPACE", "LINKBAY_WINDIR", "LINKBAY_COM1"};
    std::vector<std::pair<bool, std::string>> m_values;
};

// A simulator on its own thread with a KORVCI on the other end of its line.
struct SimRig {
    explicit SimRig(bool bAttach = true, const char* pszBaudIni = nullptr) {
        UseFreshEnvironment();
        if (pszBaudIni != nullptr) WritePrivateProfileStringA("CONFIG", "BaudRate", pszBaudIni, "DETHUB.INI");
        simulator = std::make_unique<sim::Simulator>(sim::CreateModel("korv"), Quick());
        std::string sError;
        EXPECT_TRUE(simulator->start(sError)) << sError;
        setenv("LINKBAY_COM1", simulator->devicePath().c_str(), 1);
        driver = std::make_unique<KORVCI>(kMcb);
        if (bAttach) {
            Attach();
            EXPECT_TRUE(driver->IsUnitPresent(1));
        }
        Mark();
    }
    void Attach() { driver->Attach(RS232CI::COMOpen(kPort)); }
    void Mark() {
        Settle();
        nMark = simulator->wireLog().nextSequence();
    }
    std::string Sent() {
        Settle();
        return simulator->wireLog().bytesSince(nMark, sim::WireDirection::kIn);
    }
    std::string Replied() {
        Settle();
        return simulator->wireLog().bytesSince(nMark, sim::WireDirection::kOut);
    }
    // The instrument logs a reply only after writing it, so the driver may
    // have it first: wait until the log stops growing.
    void Settle() {
        for (uint64_t nSeen = ~0ull; nSeen != simulator->wireLog().nextSequence();) {
            nSeen = simulator->wireLog().nextSequence();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Hands a request to the instrument directly, not over the line.
    std::string Direct(const std::string& sRequest) {
        return simulator->withModel([&](sim::InstrumentModel& model) { return model.answer(sRequest); });
    }
    bool Acquiring() {
        return simulator->withModel([](sim::InstrumentModel& model) { return model.acquiring(); });
    }
    uint32_t Count(uint32_t nChannel) {
        return simulator->withModel([&](sim::InstrumentModel& model) { return model.count(nChannel); });
    }
    Result Exec(const std::string& sLine) {
        Result r;
        char sz[256] = {};
        int32_t nLen = 0;
        r.bOk = driver->ExecLine(1, sLine.c_str(), sizeof sz, sz, &nLen, &r.nMac, &r.nMic);
        r.sResp = sz;
        return r;
    }

    SavedEnvironment saved;  // restored last, after the driver and simulator are gone
    std::unique_ptr<sim::Simulator> simulator;
    std::unique_ptr<KORVCI> driver;
    uint64_t nMark = 0;
};

std::string RoiQueries() {
    std::string s;
    for (int n = 1; n <= kKorvRoiSlots; ++n) s += "f6 " + std::to_string(n) + "\r";
    return s;
}

// The instrument's answers to the 29 ROI queries; unlisted slots are empty.
std::string RoiReplies(const std::map<int, std::string>& defined = {}) {
    std::string s;
    for (int n = 1; n <= kKorvRoiSlots; ++n) {
        char sz[32];
        std::snprintf(sz, sizeof sz, "f6 %02d 0001 0000\r\n", n);
        const auto it = defined.find(n);
        s += it != defined.end() ? "f6 " + it->second + "\r\n" : std::string(sz);
    }
    return s;
}

bool StartsWith(const std::string& s, const std::string& sPrefix) { return s.compare(0, sPrefix.size(), sPrefix) == 0; }

// ---- attachment and framing ---------------------------------------------------

TEST(KorvSim, AttachIdentifiesOnlyAnInstrumentThatAnswersBothProbesAtItsRate) {
    struct Case {
        const char* pszName;
        const char* pszIni;
        uint32_t nInstrumentBaud;
        uint64_t nRejectedExchange;  // 0: none
        std::string sSent;
        std::string sReplied;
        bool bAttached;
        Texts debugPrefixes;
    };
    const std::string kNotKorv = "KORVCI::Attach(COM1:): QueryInt() failed (not KORV?)\r\n";
    const std::string kReadFailed = "KORVCI::QueryInstrument(COM1: \"33\r\"): Error reading response:";
    const std::string kNoBytes = "RS232CI::COMRead(): Incomplete ReadFile(), wanted 4, got 0\r\n";
    const Case cases[] = {
        {"both probes", nullptr, 0, 0, "33\r12 0\r", "33 4096\r\n12\r\n", true, {}},
        {"first probe refused", nullptr, 0, 1, "33\r", kRejection, false,
         {"KORVCI::QueryInstrument(COM1: \"33\r\"): Unrecognized Command!\r\n", kNotKorv}},
        {"second probe refused", nullptr, 0, 2, "33\r12 0\r", std::string("33 4096\r\n") + kRejection, false,
         {"KORVCI::QueryInstrument(COM1: \"12 0\r\"): Unrecognized Command!\r\n",
          "KORVCI::Attach(COM1:): QueryCmd() failed (not KORV?)\r\n"}},
        {"instrument faster than the line", nullptr, 19200, 0, "33\r33\r", "", false,
         {kNoBytes, kReadFailed, kNoBytes, kReadFailed, kNotKorv}},
        {"both at the configured rate", "19200", 19200, 0, "33\r12 0\r", "33 4096\r\n12\r\n", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig(false, c.pszIni);
        rig.simulator->setInstrumentBaud(c.nInstrumentBaud);
        if (c.nRejectedExchange != 0) rig.simulator->planFault(c.nRejectedExchange, {sim::FaultKind::kReject, 0});
        DebugLines debug;
        rig.Attach();
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        EXPECT_EQ(rig.driver->IsUnitPresent(1), c.bAttached);
        ASSERT_EQ(debug.texts.size(), c.debugPrefixes.size());
        for (size_t i = 0; i < debug.texts.size(); ++i) {
            EXPECT_TRUE(StartsWith(debug.texts[i], c.debugPrefixes[i])) << debug.texts[i];
        }
    }
}

TEST(KorvSim, FaultyRepliesAreRetriedOnceExceptARefusal) {
    struct Case {
        const char* pszName;
        const char* pszLine;
        sim::Fault fault;
        uint32_t nFaultCount;
        std::string sSent;
        std::string sReplied;
        Result result;
        std::string sLastDebug;  // prefix of the driver's last message
    };
    const std::string kGarbage = "#%&*+-/<=>@^_~#%&*+-/<=>";
    const Case cases[] = {
        {"no line feed within 15 characters", "SHOW_GAIN_FINE", {sim::FaultKind::kGarbage, 0}, 2, "37\r37\r",
         kGarbage + kGarbage, {false, "", -3, 0},
         "KORVCI::QueryInstrument(COM1: \"37\r\"): Too Much Response!\r\n"},
        {"acknowledgement stalled past the interval", "SET_GAIN_FINE 100", {sim::FaultKind::kStall, 0}, 1,
         "07 100\r07 100\r", "07" "07\r\n", {true, "", 0, 0},
         "KORVCI::QueryInstrument(COM1: \"07 100\r\"): Error reading response:"},
        {"value stalled past the read time-out", "SHOW_GAIN_FINE", {sim::FaultKind::kStall, 2600}, 1, "37\r37\r",
         "37 2" "37 2048\r\n", {true, Record(FormatC, 2048), 0, 0},
         "KORVCI::QueryInstrument(COM1: \"37\r\"): Error in extended response:"},
        {"silence twice", "SHOW_GAIN_FINE", {sim::FaultKind::kSilence, 0}, 2, "37\r37\r", "", {false, "", -3, 0},
         "KORVCI::QueryInstrument(COM1: \"37\r\"): Error reading response:"},
        {"refused", "SHOW_GAIN_FINE", {sim::FaultKind::kReject, 0}, 1, "37\r", kRejection, {false, "", -1, 0},
         "KORVCI::QueryInstrument(COM1: \"37\r\"): Unrecognized Command!\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig;
        rig.simulator->planFault(0, c.fault, c.nFaultCount);
        DebugLines debug;
        const Result r = rig.Exec(c.pszLine);
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        EXPECT_EQ(r.bOk, c.result.bOk);
        EXPECT_EQ(r.sResp, c.result.sResp);
        EXPECT_EQ(r.nMac, c.result.nMac);
        EXPECT_EQ(r.nMic, c.result.nMic);
        ASSERT_FALSE(debug.texts.empty());
        EXPECT_TRUE(StartsWith(debug.texts.back(), c.sLastDebug)) << debug.texts.back();
    }
}

// ---- command sequences ------------------------------------------------------------

struct SequenceCase {
    const char* pszName;
    Texts setup;  // requests the instrument takes directly beforehand
    Texts lines;
    std::string sSent;
    std::string sReplied;
    Result result;  // of the last line
    const char* pszControl;  // the instrument's state afterwards
    const char* pszState;
};

TEST(KorvSim, CommandLinesDriveTheInstrumentIntoTheStateTheyName) {
    const Result kDone{true, "", 0, 0};
    const SequenceCase cases[] = {
        {"live preset at the seconds limit", {}, {"SET_LIVE_PRESET 3276750"}, "10 0\r02 0\r01 65535\r",
         "10\r\n02\r\n01\r\n", kDone, "reg 01", "ok 65535\n"},
        {"live preset in minutes", {}, {"SET_LIVE_PRESET 3276751"}, "10 0\r02 1\r01 1092\r", "10\r\n02\r\n01\r\n",
         kDone, "reg 02", "ok 1\n"},
        {"no true preset", {"02 0\r", "01 10\r"}, {"SET_TRUE_PRESET 0", "SHOW_TRUE_PRESET"}, "10 1\r02 1\r01 65535\r",
         "10\r\n02\r\n01\r\n", {true, Record(FormatG, 0), 0, 0}, "reg 01", "ok 65535\n"},
        {"true preset in minutes", {"10 1\r", "01 2\r"}, {"SHOW_TRUE_PRESET"}, "40\r31\r32\r",
         "40 1\r\n31 2\r\n32 1\r\n", {true, Record(FormatG, 6000), 0, 0}, "reg 10", "ok 1\n"},
        {"live preset in seconds", {"02 0\r", "01 10\r"}, {"SHOW_LIVE_PRESET"}, "40\r31\r32\r",
         "40 0\r\n31 10\r\n32 0\r\n", {true, Record(FormatG, 500), 0, 0}, "reg 02", "ok 0\n"},
        {"start with the preset reached", {}, {"SET_LIVE_PRESET 24", "START"}, "10 0\r02 0\r01 0\r02 0\r66\r68\r",
         "10\r\n02\r\n01\r\n02\r\n66 0\r\n68 0\r\n", {true, "", 0, 2}, "times", "ok 0 0\n"},
        {"start without a preset", {}, {"START"}, "40\r31\r32\r02 1\r66\r02 0\r66\r02 1\r68\r92 0\r",
         "40 0\r\n31 65535\r\n32 1\r\n02\r\n66 0\r\n02\r\n66 0\r\n02\r\n68 0\r\n92\r\n", kDone, "reg 02", "ok 1\n"},
        {"stop", {"92\r"}, {"STOP"}, "93\r", "93\r\n", kDone, "times", "ok 0 0\n"},
        {"clear", {}, {"CLEAR"}, "a0\r", "a0\r\n", kDone, "times", "ok 0 0\n"},
        {"clear all", {"a2 01 0100 0199\r", "a4 1 500\r"}, {"CLEAR_ALL"},
         "a0\r" + RoiQueries() + "02 1\r01 65535\ra4 1 0\r",
         "a0\r\n" + RoiReplies({{1, "01 0100 0199"}}) + "02\r\n01\r\na4\r\n", kDone, "roi 1", "ok 1 100 199 0\n"},
        {"roi", {}, {"SET_ROI 10,20"}, "a1\ra2 01 0010 0029\ra4 1 0\r", "a1\r\na2\r\na4\r\n", kDone, "roi 1",
         "ok 1 10 29 0\n"},
        {"roi at the last channel", {}, {"SET_ROI 4095,1"}, "a1\ra2 01 4095 4095\ra4 1 0\r", "a1\r\na2\r\na4\r\n",
         kDone, "roi 1", "ok 1 4095 4095 0\n"},
        {"roi cleared in the window", {}, {"SET_ROI 10,20", "SET_WINDOW 15,100", "CLEAR_ROI", "SHOW_ROI"},
         "a1\ra2 01 0010 0029\ra4 1 0\ra1\ra2 01 0010 0014\ra4 1 0\r", "a1\r\na2\r\na4\r\na1\r\na2\r\na4\r\n",
         {true, Record(FormatD, 10, 5), 0, 0}, "roi 1", "ok 1 10 14 0\n"},
        {"integral preset on the instrument's rois", {"a2 01 0500 0600\r", "a2 02 0700 0700\r"},
         {"SET_INTEGRAL_PRESET 1000"}, RoiQueries() + "a4 1 1000\ra4 2 1000\r",
         RoiReplies({{1, "01 0500 0600"}, {2, "02 0700 0700"}}) + "a4\r\na4\r\n", kDone, "roi 2",
         "ok 1 700 700 1000\n"},
        {"conversion gain sets the window", {}, {"SET_GAIN_CONV 1024", "SHOW_WINDOW"}, "03 1024\r", "03\r\n",
         {true, Record(FormatD, 0, 1024), 0, 0}, "reg 03", "ok 1024\n"},
        {"conversion gain refused", {}, {"SET_GAIN_CONV 1000"}, "03 1000\r", kRejection, {false, "", -1, 0}, "reg 03",
         "ok 4096\n"},
        {"negative high voltage on", {"05 -1200\r", "1F 1\r"}, {"SHOW_HV"}, "64\r4f\r", "64 -1200\r\n4f 1\r\n",
         {true, Record(FormatD, 1200, 7), 0, 0}, "reg 1F", "ok 1\n"},
        {"high voltage off measures nothing", {"05 -900\r"}, {"SHOW_HV"}, "64\r4f\r", "64 0\r\n4f 0\r\n",
         {true, Record(FormatD, 0, 2), 0, 0}, "reg 05", "ok -900\n"},
        {"negative target", {"05 -800\r"}, {"SHOW_HV_TARGET"}, "35\r4f\r", "35 -800\r\n4f 0\r\n",
         {true, Record(FormatD, 800, 3), 0, 0}, "reg 1F", "ok 0\n"},
        {"polarity flipped", {"05 1500\r"}, {"SET_HV_NEG"}, "35\r05 -1500\r", "35 1500\r\n05\r\n", kDone, "reg 05",
         "ok -1500\n"},
        {"presets restored after the instrument's reset", {"a2 01 0300 0400\r"}, {"SET_TRUE_PRESET 500", "INIT"},
         "10 1\r02 0\r01 10\r96\r33\r10 1\r02 0\r01 10\r" + RoiQueries() + "a4 1 0\r",
         "10\r\n02\r\n01\r\n96\r\n33 4096\r\n10\r\n02\r\n01\r\n" + RoiReplies({{1, "01 0300 0400"}}) + "a4\r\n", kDone,
         "reg 10", "ok 1\n"},
        {"version", {}, {"SHOW_VERSION"}, "71\r", "71 1.05\r\n", {true, Record(FormatF, "KORV-150"), 0, 0}, "reg 10",
         "ok 0\n"},
        {"battery", {}, {"SHOW_STATUS_BATTERY"}, "63\r", "63 6.85\r\n",
         {true, "BATT 0 6.850000000000000 0.0000\n", 0, 0}, "reg 01", "ok 65535\n"},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig;
        for (const std::string& sRequest : c.setup) ASSERT_NE(rig.Direct(sRequest), kRejection) << sRequest;
        Result r;
        for (const std::string& sLine : c.lines) r = rig.Exec(sLine);
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        EXPECT_EQ(r.bOk, c.result.bOk);
        EXPECT_EQ(r.sResp, c.result.sResp);
        EXPECT_EQ(r.nMac, c.result.nMac);
        EXPECT_EQ(r.nMic, c.result.nMic);
        EXPECT_EQ(rig.simulator->control(c.pszControl), c.pszState);
    }
}

TEST(KorvSim, StartIsRefusedOnceTheInstrumentReachedItsPreset) {
    struct Case {
        uint64_t nAdvanceMs;
        bool bStillAcquiring;
        std::string sSent;
        Result result;
    };
    const Case cases[] = {
        {9980, true, "02 0\r66\r68\r92 0\r", {true, "", 0, 0}},
        {10000, false, "02 0\r66\r68\r", {true, "", 0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nAdvanceMs);
        SimRig rig;
        ASSERT_EQ(rig.simulator->control("set live-percent 100"), "ok\n");
        ASSERT_TRUE(rig.Exec("SET_LIVE_PRESET 500").bOk);
        ASSERT_TRUE(rig.Exec("START").bOk);
        rig.simulator->advanceClock(c.nAdvanceMs);
        EXPECT_EQ(rig.Acquiring(), c.bStillAcquiring);
        rig.Mark();
        const Result r = rig.Exec("START");
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(r.nMic, c.result.nMic);
        EXPECT_EQ(r.bOk, c.result.bOk);
        EXPECT_EQ(rig.Acquiring(), c.bStillAcquiring);
    }
}

// ---- clock ------------------------------------------------------------------------

std::string ClockFields(const std::tm& t) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "%02d %02d %02d %02d %02d %02d", t.tm_mon + 1, t.tm_mday, t.tm_year % 100, t.tm_hour,
                  t.tm_min, t.tm_sec);
    return sz;
}

TEST(KorvSim, AnUnsetClockIsSetFromUtcAndThenKeptByTheInstrument) {
    SimRig rig;
    const std::time_t now = std::time(nullptr);
    const Result r = rig.Exec("SHOW_DATE");
    std::tm utc{};
    gmtime_r(&now, &utc);
    const std::string sSent = rig.Sent();
    ASSERT_EQ(sSent.size(), std::string("5f\r2f 00 00 00 00 00 00\r").size()) << sSent;
    EXPECT_EQ(sSent.substr(0, 12), "5f\r2f " + ClockFields(utc).substr(0, 6));  // month and day
    EXPECT_EQ(rig.Replied(), "5f 00 00 00 00 00 00\r\n2f\r\n");
    EXPECT_EQ(r.sResp, Record(FormatN, utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100));
    // The instrument now reads back what the driver set.
    const std::string sSet = sSent.substr(6, 17);
    EXPECT_EQ(rig.Direct("5f\r").substr(0, 12), "5f " + sSet.substr(0, 9));

    struct Case {
        const char* pszLine;
        bool bAcquireFirst;
        std::string sSent;  // less the last digit of the seconds, which may tick over
        uint32_t nShownFirst, nShownSecond, nShownThird;  // 0: no record
        std::string sClockAfter;  // likewise
    };
    const Case cases[] = {
        {"SET_TIME 1,2,3", false, "5f\r2f 12 25 26 01 02 0", 0, 0, 0, "12 25 26 01 02 0"},
        {"SET_DATE 31,1,27", false, "5f\r2f 01 31 27 10 30 4", 0, 0, 0, "01 31 27 10 30 4"},
        {"SHOW_TIME", false, "5f", 10, 30, 45, "12 25 26 10 30 4"},
        {"SHOW_DATE_START", true, "79", 25, 12, 26, "12 25 26 10 30 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszLine);
        ASSERT_EQ(rig.Direct("2f 12 25 26 10 30 45\r"), "2f\r\n");
        if (c.bAcquireFirst) {
            ASSERT_EQ(rig.Direct("92\r"), "92\r\n");
            ASSERT_EQ(rig.Direct("93\r"), "93\r\n");
        }
        rig.Mark();
        const Result shown = rig.Exec(c.pszLine);
        EXPECT_TRUE(shown.bOk);
        const std::string sAll = rig.Sent();
        EXPECT_EQ(sAll.substr(0, c.sSent.size()), c.sSent);
        EXPECT_EQ(sAll.size(), c.sSent.size() + (c.nShownFirst != 0 ? 1 : 2));
        if (c.nShownFirst == 0) {
            EXPECT_EQ(shown.sResp, "");
        } else {
            const bool bTicked = c.nShownThird == 45 && shown.sResp == Record(FormatN, 10, 30, 46);
            if (!bTicked) {
                EXPECT_EQ(shown.sResp, Record(FormatN, c.nShownFirst, c.nShownSecond, c.nShownThird));
            }
        }
        EXPECT_EQ(rig.Direct("5f\r").substr(0, 19), "5f " + c.sClockAfter);
    }
}

// ---- spectrum -----------------------------------------------------------------------

uint32_t Pattern(uint32_t nChannel, uint64_t nModulus) {
    return static_cast<uint32_t>((uint64_t(nChannel) * 2654435761u + 12345) % nModulus);
}

bool InRoi(uint32_t nChannel) { return (nChannel >= 10 && nChannel <= 20) || nChannel >= 4000; }

TEST(KorvSim, ReadDataEqualsTheInstrumentsCountsInEveryWidth) {
    struct Case {
        const char* pszWidth;
        uint64_t nModulus;  // 0: counts come from acquiring
        const char* pszFormat;
        uint32_t nGain;     // channels the instrument sends
    };
    const Case cases[] = {
        {"1", 256, "0100", 4096}, {"2", 65536, "0200", 4096}, {"4", 0x80000000ULL, "0400", 4096},
        {"auto", 0, "0100", 4096}, {"2", 65536, "0200", 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszWidth) + " x " + std::to_string(c.nGain));
        SimRig rig;
        ASSERT_EQ(rig.Direct("03 " + std::to_string(c.nGain) + "\r"), "03\r\n");
        ASSERT_EQ(rig.Direct("a2 01 0010 0020\r"), "a2\r\n");
        ASSERT_EQ(rig.Direct("a2 02 4000 4095\r"), "a2\r\n");
        if (c.nModulus != 0) {
            rig.simulator->withModel([&](sim::InstrumentModel& model) {
                for (uint32_t i = 0; i < kKorvChannels; ++i) model.setCount(i, Pattern(i, c.nModulus));
            });
        } else {
            rig.Direct("92\r");
            rig.simulator->advanceClock(1000);
        }
        ASSERT_EQ(rig.simulator->control(std::string("width ") + c.pszWidth), "ok\n");
        rig.Mark();
        std::vector<uint32_t> data(kKorvChannels, 0xDEADBEEF);
        ASSERT_EQ(rig.driver->ReadData(1, 0, 0, kKorvChannels, data.data()), 1);
        EXPECT_EQ(rig.Sent(), "fb\r" + RoiQueries());
        const std::string sHead = "fb SPECTRUM\r\nCHANNELS " + std::to_string(c.nGain) + "\r\n" + c.pszFormat;
        const std::string sRois = RoiReplies({{1, "01 0010 0020"}, {2, "02 4000 4095"}});
        const std::string sReplied = rig.Replied();
        const size_t nWidth = c.pszFormat[1] == '1' ? 1 : c.pszFormat[1] == '2' ? 2 : 4;
        ASSERT_EQ(sReplied.size(), sHead.size() + nWidth * c.nGain + sRois.size());
        EXPECT_TRUE(StartsWith(sReplied, sHead));
        EXPECT_EQ(sReplied.substr(sReplied.size() - sRois.size()), sRois);
        int nWrong = 0;
        uint64_t nTotal = 0;
        for (uint32_t i = 0; i < static_cast<uint32_t>(kKorvChannels); ++i) {
            const uint32_t nCount = i < c.nGain ? rig.Count(i) : 0;
            nTotal += nCount;
            const uint32_t nExpected = nCount | (InRoi(i) ? kKorvRoiFlag : 0u);
            if (data[i] != nExpected && ++nWrong < 5) ADD_FAILURE() << "channel " << i << ": " << data[i];
        }
        EXPECT_EQ(nWrong, 0);
        EXPECT_GT(nTotal, 0u);
    }
}

TEST(KorvSim, ReadsWithin500MsShareOneTransfer) {
    struct Case {
        DWORD dwApartMs;
        size_t nTransfers;
    };
    const Case cases[] = {{400, 1}, {600, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dwApartMs);
        SimRig rig;
        TickHook tick(0xFFFFFF00u);  // the tick count wraps between the reads
        uint32_t dwData[8] = {};
        rig.simulator->withModel([](sim::InstrumentModel& model) { model.setCount(5, 40); });
        ASSERT_EQ(rig.driver->ReadData(1, 0, 0, 8, dwData), 1);
        EXPECT_EQ(dwData[5], 40u);
        rig.simulator->withModel([](sim::InstrumentModel& model) { model.setCount(5, 41); });
        tick.dwTick += c.dwApartMs;
        rig.Mark();
        ASSERT_EQ(rig.driver->ReadData(1, 0, 0, 8, dwData), 1);
        EXPECT_EQ(rig.Sent(), c.nTransfers == 1 ? "" : "fb\r");
        EXPECT_EQ(dwData[5], c.nTransfers == 1 ? 40u : 41u);
    }
}

// ---- elapsed times ------------------------------------------------------------------

TEST(KorvSim, ElapsedTimesFollowTheInstrumentsClock) {
    struct Case {
        const char* pszName;
        const char* pszPreset;
        uint32_t nLivePercent;
        uint64_t nAdvanceMs;
        std::string sSent;
        uint32_t nLiveTicks;
        uint32_t nTrueTicks;
    };
    const std::string kStatusTail = "67\r64\r4f\r";
    const Case cases[] = {
        {"live time at half rate", "SET_LIVE_PRESET 100000", 50, 120000, "02 0\r66\r68\r" + kStatusTail, 3000, 6000},
        {"live time rounded percentage", "SET_LIVE_PRESET 100000", 97, 100000, "02 0\r66\r68\r" + kStatusTail, 4850,
         5000},
        {"true time without live time", "SET_TRUE_PRESET 100000", 0, 120000, "02 0\r66\r68\r" + kStatusTail, 0, 6000},
        {"1091 minutes re-read in seconds", "SET_TRUE_PRESET 3300000", 100, 65490000,
         "02 1\r66\r02 0\r66\r02 1\r68\r" + kStatusTail, 65490 * 50, 65490 * 50},
        {"1092 minutes taken whole", "SET_TRUE_PRESET 3300000", 100, 65550000, "02 1\r66\r68\r" + kStatusTail,
         65520 * 50, 65520 * 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig;
        ASSERT_EQ(rig.simulator->control("set rate 0"), "ok\n");
        ASSERT_EQ(rig.simulator->control("set live-percent " + std::to_string(c.nLivePercent)), "ok\n");
        ASSERT_TRUE(rig.Exec(c.pszPreset).bOk);
        ASSERT_TRUE(rig.Exec("START").bOk);
        rig.simulator->advanceClock(c.nAdvanceMs);
        rig.Mark();
        const Result r = rig.Exec("SHOW_STATUS");
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(r.sResp, Record(FormatM, c.nLiveTicks, c.nTrueTicks, 1, 2));
        EXPECT_TRUE(rig.Acquiring());
    }
}

// ---- the simulator program ----------------------------------------------------------

#ifdef LINKBAY_SIM_PATH
std::string AfterPrefix(const std::string& s, const std::string& sPrefix) {
    return StartsWith(s, sPrefix) ? s.substr(sPrefix.size()) : std::string();
}

// The same conversation with the simulator as a process of its own, steered
// through its control port as a test under another runtime would steer it.
TEST(KorvSim, TheSimulatorProgramServesTheDriverFromAnotherProcess) {
    SavedEnvironment saved;
    UseFreshEnvironment();
    ChildProcess program(LINKBAY_SIM_PATH, {"korv", "--no-pacing", "--manual-clock"});
    const std::string sDevice = AfterPrefix(program.readLine(), "device ");
    const std::string sPort = AfterPrefix(program.readLine(), "control 127.0.0.1:");
    ASSERT_FALSE(sDevice.empty());
    ASSERT_FALSE(sPort.empty());
    ControlClient control;
    ASSERT_TRUE(control.connect(static_cast<uint16_t>(std::stoi(sPort))));
    ASSERT_EQ(control.command("start"), "ok\n");
    ASSERT_EQ(control.command("advance 3000"), "ok\n");
    setenv("LINKBAY_COM1", sDevice.c_str(), 1);
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
