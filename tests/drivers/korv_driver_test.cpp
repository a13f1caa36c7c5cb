// The KORV driver against the simulated instrument (korv_rig.h): wire
// transcripts, records and instrument states stated by each case. Cases that
// need the POSIX layer (its tick count, the device side of the line) are in
// korv_driver_posix_test.cpp.

#include <ctime>
#include <sstream>

#include "drivers/korv_rig.h"

namespace linkbay {
namespace test {
namespace {

const std::string kNoBytes = "RS232CI::COMRead(): Incomplete ReadFile(), wanted 4, got 0\r\n";

// The start of the driver's message about one exchange.
std::string About(const std::string& sRequest, const std::string& sWhat) {
    return "KORVCI::QueryInstrument(COM1: \"" + sRequest + "\r\"): " + sWhat;
}

// ---- link ----------------------------------------------------------------------

// Attaching (no line) identifies the instrument by two probes; any exchange
// that fails is asked once more, except a refusal.
TEST(KorvLink, ProbesAndRetriesOverAFaultyLine) {
    struct Case {
        const char* pszName;
        const char* pszIni;  // DETHUB.INI's BaudRate
        Texts setup;
        const char* pszLine;  // nullptr: attaching, the result's bOk whether the instrument was taken
        std::string sSent;
        std::string sReplied;
        Result result;
        Texts debugPrefixes;
        long long nAtLeastMs = 0;
    };
    const std::string kNotKorv = "KORVCI::Attach(COM1:): QueryInt() failed (not KORV?)\r\n";
    const std::string kProbeRead = About("33", "Error reading response:");
    const std::string kGainRead = About("37", "Error reading response:");
    const std::string kGarbage = "#%&*+-/<=>@^_~#%&*+-/<=>";
    const Result kGain{true, Record(FormatC, 2048), 0, 0};
    const Result kNotRead{false, "", -3, 0};
    const Case cases[] = {
        {"both probes", nullptr, {}, nullptr, "33\r12 0\r", "33 4096\r\n12\r\n", kDone, {}},
        {"first probe refused", nullptr, {"fault +1 reject"}, nullptr, "33\r", kRejection, {},
         {About("33", "Unrecognized Command!\r\n"), kNotKorv}},
        {"second probe refused", nullptr, {"fault +2 reject"}, nullptr, "33\r12 0\r", "33 4096\r\n??\r\n", {},
         {About("12 0", "Unrecognized Command!\r\n"), "KORVCI::Attach(COM1:): QueryCmd() failed (not KORV?)\r\n"}},
        {"instrument faster than the line", nullptr, {"baud 19200"}, nullptr, "33\r33\r", "", {},
         {kNoBytes, kProbeRead, kNoBytes, kProbeRead, kNotKorv}},
        {"both at the configured rate", "19200", {"baud 19200"}, nullptr, "33\r12 0\r", "33 4096\r\n12\r\n", kDone, {}},
        {"no line feed within 15 characters", nullptr, {"fault next garbage 0 2"}, "SHOW_GAIN_FINE", "37\r37\r",
         kGarbage + kGarbage, kNotRead, {About("37", "Too Much Response!\r\n"), About("37", "Too Much Response!\r\n")}},
        {"acknowledgement stalled past the interval", nullptr, {"fault next stall"}, "SET_GAIN_FINE 100",
         "07 100\r07 100\r", "07" "07\r\n", kDone,
         {"RS232CI::COMRead(): Incomplete ReadFile(), wanted 4, got 2\r\n", About("07 100", "Error reading response:")}},
        {"value stalled past the read time-out", nullptr, {"fault next stall 2600"}, "SHOW_GAIN_FINE", "37\r37\r",
         "37 2" "37 2048\r\n", kGain,
         {"RS232CI::COMRead(): Incomplete ReadFile(), wanted 1, got 0\r\n", About("37", "Error in extended response:")}},
        // The first attempt waits out the 2 s read time-out.
        {"silence once", nullptr, {"fault next silence"}, "SHOW_GAIN_FINE", "37\r37\r", "37 2048\r\n", kGain,
         {kNoBytes, kGainRead}, 1500},
        {"silence twice", nullptr, {"fault next silence 0 2"}, "SHOW_GAIN_FINE", "37\r37\r", "", kNotRead,
         {kNoBytes, kGainRead, kNoBytes, kGainRead}},
        {"refused", nullptr, {"fault next reject"}, "SHOW_GAIN_FINE", "37\r", kRejection, kRejected,
         {About("37", "Unrecognized Command!\r\n")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig(c.pszLine != nullptr, c.pszIni);
        rig.Steps(c.setup);
        const size_t nDebug = rig.DebugMark();
        const long long nStart = NowMs();
        const Result r = rig.ExecOrAttach(c.pszLine);
        EXPECT_GE(NowMs() - nStart, c.nAtLeastMs);
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        ExpectResult(r, c.result);
        ExpectMessagesStartWith(rig.DebugSince(nDebug), c.debugPrefixes);
    }
}

TEST(KorvLink, ThePortWaitsAsConfigured) {
    SimRig rig;
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(rig.Driver().m_hPort, &timeouts));
    EXPECT_EQ(std::vector<DWORD>({timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                                  timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                                  timeouts.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({1000, 5, 2000, 0, 5000}));
}

TEST(KorvLink, BaudRateComesFromTheConfigurationWithinItsLimits) {
    // A line baud rate of 0: accepted, though a pty may not take the rate.
    struct Case { const char* pszIni; const char* pszUart; uint32_t nLineBaud; };
    const Case cases[] = {
        {"299", "009600N81", 9600},    {"300", "000300N81", 300},     {"115200", "115200N81", 115200},
        {"128000", "128000N81", 0},    {"128001", "009600N81", 9600}, {"fast", "009600N81", 9600},
        {" 19200x", "019200N81", 19200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszIni);
        SimRig rig(false, c.pszIni);
        rig.Attach();
        EXPECT_EQ(rig.Exec("SHOW_CONF_UART").sResp, Record(FormatF, c.pszUart));
        if (c.nLineBaud == 0) continue;
        EXPECT_TRUE(rig.Present());
        EXPECT_EQ(rig.Control("line"), "ok baud=" + std::to_string(c.nLineBaud) + " paced=0\n");
    }
}

// ---- command lines ------------------------------------------------------------

struct LineCase {
    const char* pszName;
    Texts setup;  // steps before the transcript starts (SimRig::Step)
    Texts lines;
    std::string sSent;
    std::string sReplied;
    Result result;                     // of the last line
    const char* pszControl = nullptr;  // a control command on the state left behind
    const char* pszState = nullptr;    // and the start of its reply
    int32_t nSize = 256;               // the last line's response buffer
};

std::string Configuration() { return Record(FormatJ, ("0409600001" "04096" + std::string(75, '0')).c_str()); }

const std::string kClockReply = "5f 12 25 26 10 30 45\r\n";
// Acquiring for 9 s of a 10 s true-time preset, at half live time.
const Texts kNineOfTenSecondsTrue{"request 10 1", "request 01 10", "request 02 0", "set live-percent 50",
                                  "request 92", "advance 9000"};
const std::string kNineOfTenReplies = "40 1\r\n31 10\r\n32 0\r\n02\r\n66 9\r\n68 50\r\n";
const Texts kTenSecondsLive{"set live-percent 100", "> SET_LIVE_PRESET 500", "> START"};
const std::string kPresetQueries = "40\r31\r32\r";
const std::string kRoiAcks = "a1\r\na2\r\na4\r\n";

TEST(KorvCommands, EachLineSendsItsDeviceCommandsAndAnswersItsRecord) {
    const LineCase cases[] = {
        // Presets and acquisition.
        {"live preset at the seconds limit", {}, {"SET_LIVE_PRESET 3276750"}, "10 0\r02 0\r01 65535\r",
         "10\r\n02\r\n01\r\n", kDone, "reg 01", "ok 65535\n"},
        {"live preset in minutes", {}, {"SET_LIVE_PRESET 3276751"}, "10 0\r02 1\r01 1092\r", "10\r\n02\r\n01\r\n",
         kDone, "reg 02", "ok 1\n"},
        {"live preset reported", {}, {"SET_LIVE_PRESET 500", "SHOW_LIVE_PRESET"}, "10 0\r02 0\r01 10\r",
         "10\r\n02\r\n01\r\n", Shown(Record(FormatG, 500))},
        {"no true preset", {"request 02 0", "request 01 10"}, {"SET_TRUE_PRESET 0", "SHOW_TRUE_PRESET"},
         "10 1\r02 1\r01 65535\r", "10\r\n02\r\n01\r\n", Shown(Record(FormatG, 0)), "reg 01", "ok 65535\n"},
        {"true preset in minutes", {"request 10 1", "request 01 2"}, {"SHOW_TRUE_PRESET"}, kPresetQueries,
         "40 1\r\n31 2\r\n32 1\r\n", Shown(Record(FormatG, 6000)), "reg 10", "ok 1\n"},
        {"live preset in seconds", {"request 02 0", "request 01 10"}, {"SHOW_LIVE_PRESET"}, kPresetQueries,
         "40 0\r\n31 10\r\n32 0\r\n", Shown(Record(FormatG, 500)), "reg 02", "ok 0\n"},
        {"other mode's preset", {"request 10 1", "request 01 10", "request 02 0"}, {"SHOW_LIVE_PRESET"},
         kPresetQueries, "40 1\r\n31 10\r\n32 0\r\n", Shown(Record(FormatG, 0))},
        {"preset beyond 32 bits", {ReplyStep(2, "31 4000000000\r\n")}, {"SHOW_LIVE_PRESET"}, kPresetQueries,
         "40 0\r\n31 4000000000\r\n32 1\r\n", Shown(Record(FormatG, 0xFFFFFFFFu))},
        {"start with the preset reached", {}, {"SET_LIVE_PRESET 24", "START"}, "10 0\r02 0\r01 0\r02 0\r66\r68\r",
         "10\r\n02\r\n01\r\n02\r\n66 0\r\n68 0\r\n", {true, "", 0, 2}, "times", "ok 0 0\n"},
        {"start without a preset", {}, {"START"}, kPresetQueries + "02 1\r66\r02 0\r66\r02 1\r68\r92 0\r",
         "40 0\r\n31 65535\r\n32 1\r\n02\r\n66 0\r\n02\r\n66 0\r\n02\r\n68 0\r\n92\r\n", kDone, "reg 02", "ok 1\n"},
        {"start before the true preset", kNineOfTenSecondsTrue, {"START 5"}, kPresetQueries + "02 0\r66\r68\r92 0\r",
         kNineOfTenReplies + "92\r\n", kDone, "status", "ok acquiring=1 "},
        {"start short of the preset", Join(kTenSecondsLive, {"advance 9980"}), {"START"}, "02 0\r66\r68\r92 0\r",
         "02\r\n66 9\r\n68 100\r\n92\r\n", kDone, "status", "ok acquiring=1 "},
        {"start refused at the preset", Join(kTenSecondsLive, {"advance 10000"}), {"START"}, "02 0\r66\r68\r",
         "02\r\n66 10\r\n68 100\r\n", {true, "", 0, 2}, "status", "ok acquiring=0 "},
        {"stop", {"request 92"}, {"STOP"}, "93\r", "93\r\n", kDone, "times", "ok 0 0\n"},
        {"clear", {}, {"CLEAR"}, "a0\r", "a0\r\n", kDone, "times", "ok 0 0\n"},
        {"clear all", {"request a2 01 0100 0199", "request a4 1 500"}, {"CLEAR_ALL"},
         "a0\r" + RoiQueries() + "02 1\r01 65535\ra4 1 0\r",
         "a0\r\n" + RoiReplies({{1, "01 0100 0199"}}) + "02\r\n01\r\na4\r\n", kDone, "roi 1", "ok 1 100 199 0\n"},
        {"active", {"request 92", "set active-bits 3"}, {"SHOW_ACTIVE"}, "67\r", "67 3\r\n", Shown(Record(FormatC, 1))},
        {"true preset stops the run", Join(kNineOfTenSecondsTrue, {"advance 1000"}), {"SHOW_ACTIVE"}, "67\r", "67 0\r\n",
         Shown(Record(FormatC, 0))},
        {"status", Join(kNineOfTenSecondsTrue, {"request 05 -700", "request 1F 1"}), {"SHOW_STATUS"},
         kPresetQueries + "02 0\r66\r68\r67\r64\r4f\r", kNineOfTenReplies + "67 8192\r\n64 -700\r\n4f 1\r\n",
         Shown(Record(FormatM, 225, 450, 1, 7))},
        // The instrument switches its unit as the driver asks.
        {"1091 minutes re-read in seconds",
         {"set rate 0", "set live-percent 100", "> SET_TRUE_PRESET 3300000", "> START", "advance 65490000"},
         {"SHOW_STATUS"}, "02 1\r66\r02 0\r66\r02 1\r68\r67\r64\r4f\r",
         "02\r\n66 1091\r\n02\r\n66 65490\r\n02\r\n68 100\r\n67 8192\r\n64 0\r\n4f 0\r\n",
         Shown(Record(FormatM, 65490 * 50, 65490 * 50, 1, 2)), "status", "ok acquiring=1 "},
        // ROIs and the window.
        {"roi", {}, {"SET_ROI 10,20"}, "a1\ra2 01 0010 0029\ra4 1 0\r", kRoiAcks, kDone, "roi 1", "ok 1 10 29 0\n"},
        {"roi closed at the last channel", {}, {"SET_ROI 4090,6", "SHOW_ROI"}, "a1\ra2 01 4090 4095\ra4 1 0\r",
         kRoiAcks, Shown(Record(FormatD, 4090, 6)), "roi 1", "ok 1 4090 4095 0\n"},
        {"roi table known", {}, {"SET_ROI 4090,6", "SHOW_ROI", "SHOW_NEXT"}, "a1\ra2 01 4090 4095\ra4 1 0\r",
         kRoiAcks, Shown(Record(FormatD, 0, 0))},
        {"roi cleared in the window", {}, {"SET_ROI 10,20", "SET_WINDOW 15,100", "CLEAR_ROI", "SHOW_ROI"},
         "a1\ra2 01 0010 0029\ra4 1 0\ra1\ra2 01 0010 0014\ra4 1 0\r", kRoiAcks + kRoiAcks,
         Shown(Record(FormatD, 10, 5)), "roi 1", "ok 1 10 14 0\n"},
        // A refused table write leaves the instrument's table alone and fails nothing.
        {"roi with the table clear refused", {"fault +1 reject"}, {"SET_ROI 10,20"}, "a1\r", kRejection, kDone},
        {"roi without length", {}, {"SET_ROI 100,0"}, "", "", BadLine(129)},
        {"roi beyond the gain", {}, {"SET_GAIN_CONV 1024", "SET_ROI 1024,1"}, "03 1024\r", "03\r\n", BadLine(128)},
        {"integral preset on the instrument's rois", {"request a2 01 0500 0600", "request a2 02 0700 0700"},
         {"SET_INTEGRAL_PRESET 1000"}, RoiQueries() + "a4 1 1000\ra4 2 1000\r",
         RoiReplies({{1, "01 0500 0600"}, {2, "02 0700 0700"}}) + "a4\r\na4\r\n", kDone, "roi 2", "ok 1 700 700 1000\n"},
        {"window after attachment", {}, {"SHOW_WINDOW"}, "", "", Shown(Record(FormatD, 0, 4096))},
        {"window too long", {}, {"SET_WINDOW 4000,97"}, "", "", BadLine(129)},
        {"window at the end", {}, {"SET_WINDOW 4000,96", "SHOW_WINDOW"}, "", "", Shown(Record(FormatD, 4000, 96))},
        {"window with one argument", {}, {"SET_WINDOW 5"}, "", "", BadLine(132)},
        {"window reset", {}, {"SET_WINDOW 4000,96", "SET_WINDOW", "SHOW_WINDOW"}, "", "", Shown(Record(FormatD, 0, 4096))},
        {"conversion gain sets the window", {}, {"SET_GAIN_CONV 1024", "SHOW_WINDOW"}, "03 1024\r", "03\r\n",
         Shown(Record(FormatD, 0, 1024)), "reg 03", "ok 1024\n"},
        {"conversion gain refused", {}, {"SET_GAIN_CONV 1000"}, "03 1000\r", kRejection, kRejected, "reg 03",
         "ok 4096\n"},
        // Analogue settings and high voltage.
        {"setting refused is not carried out", {"fault +1 reject"}, {"SET_GAIN_FINE 100"}, "07 100\r", kRejection,
         kRejected, "reg 07", "ok 2048\n"},
        {"coarse gain out of range", {}, {"SET_GAIN_COARSE 65"}, "", "", BadLine(128)},
        {"settings read back", {},
         {"SET_GAIN_COARSE 64", "SHOW_GAIN_COARSE", "SET_GAIN_FINE 4095", "SHOW_GAIN_FINE", "SET_GAIN_NEGATIVE",
          "SHOW_GAIN_POLARITY", "SET_LLD 12", "SHOW_LLD", "SET_ULD 4000", "SHOW_ULD", "ENABLE_BLRE_AUTOMATIC",
          "SHOW_BLRE_AUTOMATIC", "ENABLE_PUR", "SHOW_PUR", "ENABLE_HV", "SET_SHAPING 600", "SHOW_SHAPING"},
         "06 64\r36\r07 4095\r37\r08 0\r38\r09 12\r39\r0A 4000\r3A\r0c 1\r3c\r0d 1\r3d\r1F 1\r0F 1\r3F\r",
         "06\r\n36 64\r\n07\r\n37 4095\r\n08\r\n38 0\r\n09\r\n39 12\r\n0A\r\n3A 4000\r\n0c\r\n3c 1\r\n0d\r\n3d 1\r\n1F\r\n"
         "0F\r\n3F 1\r\n",
         Shown(Record(FormatC, 1)), "reg 0A", "ok 4000\n"},
        {"shaping 2", {}, {"SET_SHAPING 2"}, "", "", BadLine(128)},
        {"negative high voltage on", {"request 05 -1200", "request 1F 1"}, {"SHOW_HV"}, "64\r4f\r",
         "64 -1200\r\n4f 1\r\n", Shown(Record(FormatD, 1200, 7)), "reg 1F", "ok 1\n"},
        {"high voltage off measures nothing", {"request 05 -900"}, {"SHOW_HV"}, "64\r4f\r", "64 0\r\n4f 0\r\n",
         Shown(Record(FormatD, 0, 2)), "reg 05", "ok -900\n"},
        {"negative target", {"request 05 -800"}, {"SHOW_HV_TARGET"}, "35\r4f\r", "35 -800\r\n4f 0\r\n",
         Shown(Record(FormatD, 800, 3)), "reg 1F", "ok 0\n"},
        {"positive target off", {"request 05 800"}, {"SHOW_HV_TARGET"}, "35\r4f\r", "35 800\r\n4f 0\r\n",
         Shown(Record(FormatD, 800, 2))},
        {"high voltage magnitude", {}, {"SET_HV -1500"}, "05 1500\r", "05\r\n", kDone, "reg 05", "ok 1500\n"},
        {"polarity flipped", {"request 05 1500"}, {"SET_HV_NEG"}, "35\r05 -1500\r", "35 1500\r\n05\r\n", kDone,
         "reg 05", "ok -1500\n"},
        {"polarity kept", {"request 05 1500"}, {"SET_HV_POS"}, "35\r", "35 1500\r\n", kDone, "reg 05", "ok 1500\n"},
        // Reset, clock and fixed answers.
        {"presets restored after the instrument's reset", {"request a2 01 0300 0400"}, {"SET_TRUE_PRESET 500", "INIT"},
         "10 1\r02 0\r01 10\r96\r33\r10 1\r02 0\r01 10\r" + RoiQueries() + "a4 1 0\r",
         "10\r\n02\r\n01\r\n96\r\n33 4096\r\n10\r\n02\r\n01\r\n" + RoiReplies({{1, "01 0300 0400"}}) + "a4\r\n", kDone,
         "reg 10", "ok 1\n"},
        {"date", {ReplyStep(1, kClockReply)}, {"SHOW_DATE"}, "5f\r", kClockReply, Shown(Record(FormatN, 25, 12, 26))},
        {"time", {ReplyStep(1, kClockReply)}, {"SHOW_TIME"}, "5f\r", kClockReply, Shown(Record(FormatN, 10, 30, 45))},
        {"start date", {ReplyStep(1, "79 01 02 03 04 05 06\r\n")}, {"SHOW_DATE_START"}, "79\r",
         "79 01 02 03 04 05 06\r\n", Shown(Record(FormatN, 2, 1, 3))},
        // The instrument's clock runs on: its seconds' last digit may have ticked over.
        {"set time", {ReplyStep(1, kClockReply)}, {"SET_TIME 1,2,3"}, "5f\r2f 12 25 26 01 02 03\r",
         kClockReply + "2f\r\n", kDone, "request 5f", "ok 5f 12 25 26 01 02 0"},
        {"set date", {ReplyStep(1, kClockReply)}, {"SET_DATE 31,1,27"}, "5f\r2f 01 31 27 10 30 45\r",
         kClockReply + "2f\r\n", kDone, "request 5f", "ok 5f 01 31 27 10 30 4"},
        {"clock unreadable", {"fault +1 reject"}, {"SHOW_DATE"}, "5f\r", kRejection, kRejected},
        {"version", {}, {"SHOW_VERSION"}, "71\r", "71 1.05\r\n", Shown(Record(FormatF, "KORV-150"))},
        {"serial number", {"set serial 4294967295"}, {"SHOW_SNUM"}, "6B\r", "6B 4294967295\r\n",
         Shown(Record(FormatF, "4294967295"))},
        // The integral covers the ROIs, or the whole spectrum without any, held at 32 bits.
        {"integral over the rois", {"set-counts 99 1 2 3", "request a2 01 0100 0101"}, {"SHOW_INTEGRAL"}, "80\r",
         "80 5\r\n", Shown(Record(FormatG, 5))},
        {"integral of the spectrum", {"set-counts 99 1 2 3", "set-counts 4095 4294967295"}, {"SHOW_INTEGRAL"}, "80\r",
         "80 4294967295\r\n", Shown(Record(FormatG, 4294967295u))},
        {"battery", {}, {"SHOW_STATUS_BATTERY"}, "63\r", "63 6.85\r\n", Shown("BATT 0 6.850000000000000 0.0000\n")},
        {"battery into a small buffer", {"set battery 12.5"}, {"SHOW_STATUS_BATTERY"}, "63\r", "63 12.50\r\n",
         BadLine(134), nullptr, nullptr, 39},
        {"configuration", {}, {"SHOW_CONF"}, "", "", Shown(Configuration())},
        {"record too small", {}, {"SHOW_WINDOW"}, "", "", BadLine(134), nullptr, nullptr, 16},
        {"list", {}, {"LIST_GAIN_FINE"}, "", "", {true, "GAIN_FINE 0.0 1.0 0 4095\n", 0, 0, 26}, nullptr, nullptr, 26},
        {"list too small", {}, {"LIST_GAIN_FINE"}, "", "", BadLine(134), nullptr, nullptr, 25},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig;
        rig.Steps(c.setup);
        rig.Mark();
        Result r;
        for (size_t i = 0; i < c.lines.size(); ++i) r = rig.Exec(c.lines[i], i + 1 == c.lines.size() ? c.nSize : 256);
        EXPECT_EQ(rig.Sent(), c.sSent);
        EXPECT_EQ(rig.Replied(), c.sReplied);
        ExpectResult(r, c.result);
        if (c.pszControl != nullptr) {
            const std::string sState = rig.Control(c.pszControl);
            EXPECT_TRUE(StartsWith(sState, c.pszState)) << sState;
        }
    }
}

// Each "66" and "68" the driver is to send is answered with the case's next
// elapsed time and its live percentage.
TEST(KorvCommands, ElapsedTimesFollowModeTimeBaseAndLivePercentage) {
    struct Case {
        const char* pszLine;
        const char* pszMode;
        const char* pszBase;
        Texts minutesThenSeconds;
        const char* pszPercent;
        uint32_t nTicks;
        const char* pszWire;  // after the preset queries
    };
    const Case cases[] = {
        {"SHOW_TRUE", "0", "0", {"120"}, "0", 6000, "02 0\r66\r68\r"},
        {"SHOW_LIVE", "0", "0", {"120"}, "0", 6000, "02 0\r66\r68\r"},
        {"SHOW_TRUE", "0", "0", {"120"}, "50", 12000, "02 0\r66\r68\r"},
        {"SHOW_TRUE", "0", "0", {"120"}, "150", 6000, "02 0\r66\r68\r"},
        {"SHOW_LIVE", "1", "0", {"120"}, "25", 1500, "02 0\r66\r68\r"},
        {"SHOW_LIVE", "1", "0", {"1"}, "33", 17, "02 0\r66\r68\r"},
        {"SHOW_TRUE", "1", "1", {"1091", "65460"}, "100", 65460 * 50, "02 1\r66\r02 0\r66\r02 1\r68\r"},
        {"SHOW_TRUE", "1", "1", {"1092"}, "100", 65520 * 50, "02 1\r66\r68\r"},
        // Wider than 32 bits: held at the most the tick arithmetic carries.
        {"SHOW_LIVE", "0", "0", {"4294967296"}, "100", 0x7FFFFFFFu, "02 0\r66\r68\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszLine) + " mode " + c.pszMode + " base " + c.pszBase + " " + c.minutesThenSeconds[0]);
        SimRig rig;
        rig.Steps({std::string("request 10 ") + c.pszMode, std::string("request 02 ") + c.pszBase});
        const std::string sWire = kPresetQueries + c.pszWire;
        size_t nElapsed = 0;
        for (size_t nAt = 0, nExchange = 1; nAt < sWire.size(); nAt = sWire.find('\r', nAt) + 1, ++nExchange) {
            const std::string sRequest = sWire.substr(nAt, sWire.find('\r', nAt) - nAt);
            const int n = static_cast<int>(nExchange);
            if (sRequest == "66") rig.Step(ReplyStep(n, "66 " + c.minutesThenSeconds[nElapsed++] + "\r\n"));
            if (sRequest == "68") rig.Step(ReplyStep(n, std::string("68 ") + c.pszPercent + "\r\n"));
        }
        rig.Mark();
        ExpectResult(rig.Exec(c.pszLine), Shown(Record(FormatG, c.nTicks)));
        EXPECT_EQ(rig.Sent(), sWire);
    }
}

TEST(KorvCommands, PresetClearingAndIntegralPresetsReachEveryRoi) {
    SimRig rig;
    auto storedPreset = [] {
        char sz[16] = {};
        GetPrivateProfileStringA(kMcbSection, "KRIntPreset", "", sz, sizeof sz, "DETHUB.INI");
        return std::string(sz);
    };
    rig.Steps({"request a2 01 0100 0199", "request a2 02 0300 0300", "request a2 03 0500 0600"});
    EXPECT_TRUE(rig.Exec("SET_INTEGRAL_PRESET 1000").bOk);
    EXPECT_EQ(rig.Sent(), RoiQueries() + "a4 1 1000\ra4 2 1000\ra4 3 1000\r");
    EXPECT_EQ(storedPreset(), "1000");
    EXPECT_EQ(rig.Exec("SHOW_INTEGRAL_PRESET").sResp, Record(FormatG, 1000));
    rig.Mark();
    EXPECT_TRUE(rig.Exec("CLEAR_PRESETS").bOk);
    EXPECT_EQ(rig.Sent(), "10 0\r02 1\r01 65535\ra4 1 0\ra4 2 0\ra4 3 0\r");
    EXPECT_EQ(storedPreset(), "0");
    EXPECT_EQ(rig.Control("roi 3"), "ok 1 500 600 0\n");
    // INITIALIZE sends the shared preset state back to a reset instrument.
    rig.Mark();
    EXPECT_TRUE(rig.Exec("INIT").bOk);
    EXPECT_EQ(rig.Sent(), "96\r33\r10 0\r02 1\r01 65535\ra4 1 0\ra4 2 0\ra4 3 0\r");
}

TEST(KorvRoi, TheTableKeeps29Runs) {
    SimRig rig;
    for (int i = 0; i < 30; ++i) {
        rig.Mark();
        ASSERT_EQ(rig.Exec("SET_ROI " + std::to_string(i * 10) + ",2").nMac, 0);
    }
    std::string sExpected = "a1\r";
    for (int n = 1; n <= kKorvRoiSlots; ++n) {
        char sz[48];
        std::snprintf(sz, sizeof sz, "a2 %02d %04d %04d\ra4 %d 0\r", n, (n - 1) * 10, (n - 1) * 10 + 1, n);
        sExpected += sz;
    }
    EXPECT_EQ(rig.Sent(), sExpected);
    EXPECT_EQ(rig.Control("roi 29"), "ok 1 280 281 0\n");
}

// ---- clock ----------------------------------------------------------------------

TEST(KorvClock, AnUnsetClockIsSetFromUtcAndThenKeptByTheInstrument) {
    SimRig rig;
    const std::time_t now = std::time(nullptr);
    const Result r = rig.Exec("SHOW_DATE");
    const std::tm utc = *std::gmtime(&now);
    char szDay[16];
    std::snprintf(szDay, sizeof szDay, "%02d %02d", utc.tm_mon + 1, utc.tm_mday);
    const std::string sSent = rig.Sent();
    ASSERT_EQ(sSent.size(), std::string("5f\r2f 00 00 00 00 00 00\r").size()) << sSent;
    EXPECT_EQ(sSent.substr(0, 11), "5f\r2f " + std::string(szDay));
    EXPECT_EQ(rig.Replied(), "5f 00 00 00 00 00 00\r\n2f\r\n");
    EXPECT_EQ(r.sResp, Record(FormatN, utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100));
    // The instrument now reads back the date the driver set, and stamps a start with it.
    EXPECT_EQ(Unescaped(OkValue(rig.Control("request 5f"))).substr(0, 12), "5f " + sSent.substr(6, 9));
    rig.Step("> START");
    EXPECT_EQ(rig.Exec("SHOW_DATE_START").sResp, r.sResp);
}

// ---- spectrum -------------------------------------------------------------------

TEST(KorvSpectrum, BadArgumentsOtherDetectorsAndWritesSendNothing) {
    SimRig rig;
    int32_t nStatus = 0;
    EXPECT_FALSE(rig.Driver().IsActive(2, &nStatus));
    EXPECT_EQ(nStatus, 1);
    ExpectBadArgumentsSendNothing(rig);  // and IsActive sent nothing either
}

// Every transfer, failed or not, leaves the instrument's ROI in the table
// that the next ROI change writes back.
TEST(KorvSpectrum, MalformedTransfersNeitherWritePastTheArrayNorLoseRois) {
    struct Case {
        const char* pszName;
        Texts setup;
        int32_t nResult;
        uint32_t dwFirst;
        // The rest of a reply larger than the line holds is still on its way
        // and would meet the next exchange: no ROI change follows it.
        bool bStillStreaming = false;
    };
    const Case cases[] = {
        {"refused", {"fault +1 reject"}, -3, 7},
        {"too many channels", {"announce 4097", "width 4"}, -3, 7, true},
        {"count line without end", {ReplyStep(1, "fb go\r\n" + std::string(40, 'x'))}, -3, 7},
        {"long header", {ReplyStep(1, "fb 0123456789012345678901234\r\n")}, -3, 7},
        {"channel data cut short", {ReplyStep(1, "fb go\r\nCHANNELS 16\n0400" + std::string(10, '\xff'))}, -3, 7},
        {"count reaching the flag bit", {"set-counts 0 4294967295 4294967295", "announce 2", "width 4"}, 1, 0x7FFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        SimRig rig;
        rig.Step("request a2 01 0100 0199");
        ASSERT_EQ(rig.Exec("SHOW_ROI").sResp, Record(FormatD, 100, 100));
        rig.Steps(c.setup);
        uint32_t dwDest[2] = {7, 7};
        EXPECT_EQ(rig.ReadData(2, dwDest), c.nResult);
        EXPECT_EQ(dwDest[0], c.dwFirst);
        if (c.bStillStreaming) continue;
        rig.Mark();
        EXPECT_TRUE(rig.Exec("SET_ROI 300,10").bOk);
        EXPECT_EQ(rig.Sent(), "a1\ra2 01 0100 0199\ra4 1 0\ra2 02 0300 0309\ra4 2 0\r");
    }
}

TEST(KorvSpectrum, ReadDataEqualsTheInstrumentsCountsInEveryWidth) {
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
        rig.Steps({"request 03 " + std::to_string(c.nGain), "request a2 01 0010 0020", "request a2 02 4000 4095"});
        if (c.nModulus != 0) {
            std::vector<uint32_t> counts(kKorvChannels);
            for (uint32_t i = 0; i < kKorvChannels; ++i) counts[i] = Pattern(i, c.nModulus);
            rig.SetCounts(counts);
        } else {
            rig.Steps({"request 92", "advance 1000"});
        }
        rig.Step(std::string("width ") + c.pszWidth);
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
        // Channels past the gain read as empty; the ROIs' channels are flagged.
        std::istringstream counts(OkValue(rig.Control("counts 0 " + std::to_string(kKorvChannels))));
        int nWrong = 0;
        uint64_t nTotal = 0;
        uint32_t i = 0;
        for (uint32_t nCount = 0; i < data.size() && counts >> nCount; ++i) {
            nCount = i < c.nGain ? nCount : 0;
            nTotal += nCount;
            const bool bInRoi = (i >= 10 && i <= 20) || i >= 4000;
            if (data[i] != (nCount | (bInRoi ? kRoiFlag : 0u)) && ++nWrong < 5) ADD_FAILURE() << i << ": " << data[i];
        }
        EXPECT_EQ(i, data.size());
        EXPECT_EQ(nWrong, 0);
        EXPECT_GT(nTotal, 0u);
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
