// The KORV driver against the simulated instrument over a real pty: both
// sides were written apart, so every case asserts the exact bytes the
// instrument heard and sent, the record the driver answered, and where it
// matters the state the instrument was left in. The instrument is the
// simulator program, steered over its control port, so the cases run alike
// natively and in the Wine lane, where the program runs beside Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cmdlang/records.h"
#include "drivers/korv/korvci.h"
#include "sim/byte_escapes.h"
#include "support/debug_sink.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

using Texts = std::vector<std::string>;

constexpr int kPort = 1;
constexpr int32_t kMcb = 97;
const char kMcbSection[] = "M97S01";  // the driver's detector section of DETHUB.INI
const char kRejection[] = "??\r\n";
constexpr uint64_t kLongestAdvanceMs = 3600000;  // the most one "advance" takes
constexpr int kSettleMs = 10;  // how long the wire log stays still to count as settled

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

bool StartsWith(const std::string& s, const std::string& sPrefix) { return s.compare(0, sPrefix.size(), sPrefix) == 0; }

// The value after "ok " of a control reply, without its line feed; anything
// else comes back in angle brackets, so that it matches no expected value.
std::string OkValue(const std::string& sReply) {
    if (sReply == "ok\n") return std::string();
    if (!StartsWith(sReply, "ok ") || sReply.find('\n') != sReply.size() - 1) return "<" + sReply + ">";
    return sReply.substr(3, sReply.size() - 4);
}

// The bytes behind the control protocol's escapes.
std::string Unescaped(const std::string& sText) {
    std::string sBytes;
    return sim::UnescapeBytes(sText, sBytes) ? sBytes : "<malformed escape in " + sText + ">";
}

// The debug messages in a stretch of debug output: each ends with a line
// break, and lines that go on with a message start with four blanks.
Texts Messages(const std::string& sText) {
    Texts messages;
    for (size_t nAt = 0; nAt < sText.size();) {
        const size_t nBreak = sText.find("\r\n", nAt);
        const size_t nEnd = nBreak == std::string::npos ? sText.size() : nBreak + 2;
        const std::string sLine = sText.substr(nAt, nEnd - nAt);
        if (!messages.empty() && StartsWith(sLine, "    ")) {
            messages.back() += sLine;
        } else {
            messages.push_back(sLine);
        }
        nAt = nEnd;
    }
    return messages;
}

std::string Variable(const char* pszName) {
    const char* pszValue = getenv(pszName);
    return pszValue != nullptr ? pszValue : std::string();
}

// A simulator program on COM1 with a KORVCI on the other end of its line, in
// an environment of its own; the other tests of this process get theirs back.
class SimRig {
public:
    explicit SimRig(bool bAttach = true, const char* pszBaudIni = nullptr)
        : m_ipc("LINKBAY_IPC_NAMESPACE", Variable("LINKBAY_IPC_NAMESPACE")),
          m_windir("LINKBAY_WINDIR", Variable("LINKBAY_WINDIR")) {
        m_pDebug = &DebugSink::Start(UseFreshEnvironment());
        ForgetProfileKeys();
        if (pszBaudIni != nullptr) WritePrivateProfileStringA("CONFIG", "BaudRate", pszBaudIni, "DETHUB.INI");
        m_sim = std::make_unique<SimulatorProgram>(kPort, Texts{"--no-pacing", "--manual-clock"});
        EXPECT_TRUE(m_sim->ready()) << m_sim->problem();
        m_driver = std::make_unique<KORVCI>(kMcb);
        if (bAttach) {
            Attach();
            EXPECT_TRUE(Present());
        }
        Mark();
    }
    ~SimRig() {
        m_driver.reset();
        m_sim.reset();
        ForgetProfileKeys();
    }

    std::string Control(const std::string& sLine) { return m_sim->control(sLine); }

    void Attach() {
        m_bSettled = false;
        m_driver->Attach(RS232CI::COMOpen(kPort));
    }
    bool Present() { return m_driver->IsUnitPresent(1); }
    Result Exec(const std::string& sLine) {
        m_bSettled = false;
        Result r;
        char sz[256] = {};
        int32_t nLen = 0;
        r.bOk = m_driver->ExecLine(1, sLine.c_str(), sizeof sz, sz, &nLen, &r.nMac, &r.nMic);
        r.sResp = sz;
        return r;
    }
    int32_t ReadData(int32_t nCount, uint32_t* pdwData) {
        m_bSettled = false;
        return m_driver->ReadData(1, 0, 0, nCount, pdwData);
    }

    // The instrument logs what it heard before it answers, so what the
    // driver sent is complete once its call returns; a reply is logged only
    // after it was written, so the driver may have had it first.
    void Mark() {
        Settle();
        m_sMark = OkValue(Control("mark"));
    }
    std::string Sent() { return Unescaped(OkValue(Control("sent " + m_sMark))); }
    std::string Replied() {
        Settle();
        return Unescaped(OkValue(Control("replied " + m_sMark)));
    }
    void Settle() {
        if (m_bSettled) return;
        for (std::string sSeen = Control("mark"); !m_bSettled;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
            const std::string sNow = Control("mark");
            m_bSettled = sNow == sSeen;
            sSeen = sNow;
        }
    }

    // Hands a request ("XX ARGS\r") to the instrument directly, not over the line.
    std::string Direct(const std::string& sRequest) {
        const std::string sWithoutReturn = sRequest.substr(0, sRequest.find('\r'));
        return Unescaped(OkValue(Control("request " + sWithoutReturn)));
    }
    bool Acquiring() {
        const std::string sStatus = Control("status");
        EXPECT_TRUE(StartsWith(sStatus, "ok acquiring=")) << sStatus;
        return StartsWith(sStatus, "ok acquiring=1 ");
    }
    std::vector<uint32_t> Counts(uint32_t nChannels) {
        std::istringstream values(OkValue(Control("counts 0 " + std::to_string(nChannels))));
        std::vector<uint32_t> counts;
        for (uint32_t n = 0; values >> n;) counts.push_back(n);
        EXPECT_EQ(counts.size(), nChannels);
        counts.resize(nChannels);
        return counts;
    }
    void SetCounts(const std::vector<uint32_t>& counts) {
        std::string sLine = "set-counts 0";
        for (uint32_t n : counts) sLine += " " + std::to_string(n);
        EXPECT_EQ(Control(sLine), "ok\n");
    }
    void Advance(uint64_t nMs) {
        for (uint64_t nStep = 0; nMs > 0; nMs -= nStep) {
            nStep = std::min(nMs, kLongestAdvanceMs);
            ASSERT_EQ(Control("advance " + std::to_string(nStep)), "ok\n");
        }
    }

    // Where the debug output stands now, and the messages since.
    size_t DebugMark() const { return m_pDebug->text().size(); }
    Texts DebugSince(size_t nMark) const { return Messages(m_pDebug->text().substr(nMark)); }

private:
    // Under Wine every rig shares DETHUB.INI of the Windows directory: no
    // rate or integral preset of another rig may reach this one's driver.
    static void ForgetProfileKeys() {
        WritePrivateProfileStringA("CONFIG", "BaudRate", nullptr, "DETHUB.INI");
        WritePrivateProfileStringA(kMcbSection, "KRIntPreset", nullptr, "DETHUB.INI");
    }

    ScopedVariable m_ipc;
    ScopedVariable m_windir;
    DebugSink* m_pDebug = nullptr;
    std::unique_ptr<SimulatorProgram> m_sim;
    std::unique_ptr<KORVCI> m_driver;
    std::string m_sMark = "0";
    bool m_bSettled = false;
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
        ASSERT_EQ(rig.Control("baud " + std::to_string(c.nInstrumentBaud)), "ok\n");
        if (c.nRejectedExchange != 0) {
            const std::string sExchange = std::to_string(c.nRejectedExchange);
            ASSERT_EQ(rig.Control("fault " + sExchange + " reject"), "ok " + sExchange + "\n");
        }
        const size_t nDebug = rig.DebugMark();
        rig.Attach();
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        EXPECT_EQ(rig.Present(), c.bAttached);
        const Texts debug = rig.DebugSince(nDebug);
        ASSERT_EQ(debug.size(), c.debugPrefixes.size());
        for (size_t i = 0; i < debug.size(); ++i) {
            EXPECT_TRUE(StartsWith(debug[i], c.debugPrefixes[i])) << debug[i];
        }
    }
}

TEST(KorvSim, FaultyRepliesAreRetriedOnceExceptARefusal) {
    struct Case {
        const char* pszName;
        const char* pszLine;
        const char* pszFault;  // the next exchanges' fault: KIND AMOUNT COUNT
        std::string sSent;
        std::string sReplied;
        Result result;
        std::string sLastDebug;  // prefix of the driver's last message
    };
    const std::string kGarbage = "#%&*+-/<=>@^_~#%&*+-/<=>";
    const Case cases[] = {
        {"no line feed within 15 characters", "SHOW_GAIN_FINE", "garbage 0 2", "37\r37\r", kGarbage + kGarbage,
         {false, "", -3, 0}, "KORVCI::QueryInstrument(COM1: \"37\r\"): Too Much Response!\r\n"},
        {"acknowledgement stalled past the interval", "SET_GAIN_FINE 100", "stall 0 1", "07 100\r07 100\r",
         "07" "07\r\n", {true, "", 0, 0}, "KORVCI::QueryInstrument(COM1: \"07 100\r\"): Error reading response:"},
        {"value stalled past the read time-out", "SHOW_GAIN_FINE", "stall 2600 1", "37\r37\r", "37 2" "37 2048\r\n",
         {true, Record(FormatC, 2048), 0, 0}, "KORVCI::QueryInstrument(COM1: \"37\r\"): Error in extended response:"},
        {"silence twice", "SHOW_GAIN_FINE", "silence 0 2", "37\r37\r", "", {false, "", -3, 0},
         "KORVCI::QueryInstrument(COM1: \"37\r\"): Error reading response:"},
        {"refused", "SHOW_GAIN_FINE", "reject 0 1", "37\r", kRejection, {false, "", -1, 0},
         "KORVCI::QueryInstrument(COM1: \"37\r\"): Unrecognized Command!\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig;
        ASSERT_TRUE(StartsWith(rig.Control(std::string("fault next ") + c.pszFault), "ok "));
        const size_t nDebug = rig.DebugMark();
        const Result r = rig.Exec(c.pszLine);
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        EXPECT_EQ(r.bOk, c.result.bOk);
        EXPECT_EQ(r.sResp, c.result.sResp);
        EXPECT_EQ(r.nMac, c.result.nMac);
        EXPECT_EQ(r.nMic, c.result.nMic);
        const Texts debug = rig.DebugSince(nDebug);
        ASSERT_FALSE(debug.empty());
        EXPECT_TRUE(StartsWith(debug.back(), c.sLastDebug)) << debug.back();
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
        EXPECT_EQ(rig.Control(c.pszControl), c.pszState);
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
        ASSERT_EQ(rig.Control("set live-percent 100"), "ok\n");
        ASSERT_TRUE(rig.Exec("SET_LIVE_PRESET 500").bOk);
        ASSERT_TRUE(rig.Exec("START").bOk);
        rig.Advance(c.nAdvanceMs);
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
    const std::tm utc = *std::gmtime(&now);
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
            std::vector<uint32_t> counts(kKorvChannels);
            for (uint32_t i = 0; i < kKorvChannels; ++i) counts[i] = Pattern(i, c.nModulus);
            rig.SetCounts(counts);
        } else {
            rig.Direct("92\r");
            rig.Advance(1000);
        }
        ASSERT_EQ(rig.Control(std::string("width ") + c.pszWidth), "ok\n");
        rig.Mark();
        std::vector<uint32_t> data(kKorvChannels, 0xDEADBEEF);
        ASSERT_EQ(rig.ReadData(kKorvChannels, data.data()), 1);
        EXPECT_EQ(rig.Sent(), "fb\r" + RoiQueries());
        const std::string sHead = "fb SPECTRUM\r\nCHANNELS " + std::to_string(c.nGain) + "\r\n" + c.pszFormat;
        const std::string sRois = RoiReplies({{1, "01 0010 0020"}, {2, "02 4000 4095"}});
        const std::string sReplied = rig.Replied();
        const size_t nWidth = c.pszFormat[1] == '1' ? 1 : c.pszFormat[1] == '2' ? 2 : 4;
        ASSERT_EQ(sReplied.size(), sHead.size() + nWidth * c.nGain + sRois.size());
        EXPECT_TRUE(StartsWith(sReplied, sHead));
        EXPECT_EQ(sReplied.substr(sReplied.size() - sRois.size()), sRois);
        const std::vector<uint32_t> counts = rig.Counts(kKorvChannels);
        int nWrong = 0;
        uint64_t nTotal = 0;
        for (uint32_t i = 0; i < static_cast<uint32_t>(kKorvChannels); ++i) {
            const uint32_t nCount = i < c.nGain ? counts[i] : 0;
            nTotal += nCount;
            const uint32_t nExpected = nCount | (InRoi(i) ? kRoiFlag : 0u);
            if (data[i] != nExpected && ++nWrong < 5) ADD_FAILURE() << "channel " << i << ": " << data[i];
        }
        EXPECT_EQ(nWrong, 0);
        EXPECT_GT(nTotal, 0u);
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
        ASSERT_EQ(rig.Control("set rate 0"), "ok\n");
        ASSERT_EQ(rig.Control("set live-percent " + std::to_string(c.nLivePercent)), "ok\n");
        ASSERT_TRUE(rig.Exec(c.pszPreset).bOk);
        ASSERT_TRUE(rig.Exec("START").bOk);
        rig.Advance(c.nAdvanceMs);
        rig.Mark();
        const Result r = rig.Exec("SHOW_STATUS");
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(r.sResp, Record(FormatM, c.nLiveTicks, c.nTrueTicks, 1, 2));
        EXPECT_TRUE(rig.Acquiring());
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
