// The ZEPH driver against the simulated ZEPH instrument (driver_rig.h): the
// frames the instrument heard, read back from its wire log by this test's
// own decoding, the record the driver answered, and the instrument state
// left behind. Cases that steer the POSIX layer's clocks are in
// zeph_driver_posix_test.cpp.

#include <cstring>
#include <sstream>

#include "drivers/driver_rig.h"
#include "drivers/zeph/zephci.h"

namespace linkbay {
namespace test {
namespace {

class ZephRig : public DriverRig<ZEPHCI> {
public:
    explicit ZephRig(bool bAttach = true) : DriverRig("zeph", bAttach) {}
};

const Result kNotSent{false, "", -3, 0};
Result Text(const std::string& sText) { return {true, sText, 0, 0, static_cast<int32_t>(sText.size()) + 1}; }

uint16_t Le16(const std::string& s, size_t n) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[n]) | (static_cast<uint8_t>(s[n + 1]) << 8));
}

// The frames the instrument heard, one text each: the code in hex, then the
// parameters in decimal up to the last that is not 0; a start's device time
// is shown as T (the clock cases check it). Status reads are left out when
// asked: whether one is due depends on how long the case took.
Texts Frames(const std::string& sBytes, bool bWithStatusReads = false) {
    Texts frames;
    for (size_t n = 0; n + 12 <= sBytes.size(); n += 12) {
        if (Le16(sBytes, n) != 0x5AA5 || Le16(sBytes, n + 10) != 0x9BB9) {
            frames.push_back("<no frame>");
            continue;
        }
        const uint16_t wCode = Le16(sBytes, n + 2);
        if (wCode == 0x5A && !bWithStatusReads) continue;
        char sz[32];
        std::snprintf(sz, sizeof sz, "%02X", wCode);
        std::string sFrame = sz;
        uint16_t p[3] = {Le16(sBytes, n + 4), Le16(sBytes, n + 6), Le16(sBytes, n + 8)};
        int nShown = 3;
        while (nShown > 0 && p[nShown - 1] == 0) --nShown;
        if (wCode == 0x42) nShown = 1;
        for (int i = 0; i < nShown; ++i) sFrame += " " + std::to_string(p[i]);
        if (wCode == 0x42) sFrame += " T";
        frames.push_back(sFrame);
    }
    if (sBytes.size() % 12 != 0) frames.push_back("<partial frame>");
    return frames;
}

// Status fields poked into the instrument, "OFFSET=VALUE ..."; the driver
// reads them when it attaches.
Texts Status(const std::string& sFields) {
    Texts steps;
    std::istringstream in(sFields);
    for (std::string sField; in >> sField;) {
        const size_t nEq = sField.find('=');
        steps.push_back("status " + sField.substr(0, nEq) + " " + sField.substr(nEq + 1));
    }
    return steps;
}

// ---- link ----------------------------------------------------------------------

TEST(ZephLink, RetriesTransmissionFaultsOnceAndRejectionsNever) {
    struct Case {
        const char* pszName;
        Texts setup;
        const char* pszLine;  // nullptr: attaching; the result's bOk whether the instrument was taken
        Texts frames;         // status reads included
        Result result;
        Texts debugPrefixes;
    };
    const std::string kFailed45 = "ZEPHCI::QueryInstrument(): Cmd 0x45 failed\r\n";
    const std::string kNoBytes = "RS232CI::COMRead(): Incomplete ReadFile(), wanted 136, got 0\r\n";
    const Case cases[] = {
        {"attached", {}, nullptr, {"5A"}, kDone, {}},
        {"status refused: not taken", {"fault +1 reject"}, nullptr, {"5A"}, {},
         {"ZEPHCI::QueryInstrument(): Cmd 0x5A failed\r\n", "ZEPHCI::Attach(COM1:): CheckStatusData() failed (not ZEPH)"}},
        {"wrong sync once", {"fault +1 garbage 136"}, "SET_MODE_MCS", {"45 1", "45 1"}, kDone, {}},
        {"short reply once", {"fault +1 short 100"}, "SET_MODE_MCS", {"45 1", "45 1"}, kDone,
         {"RS232CI::COMRead(): Incomplete ReadFile(), wanted 136, got 100"}},
        {"silent twice", {"fault +1 silence", "fault +2 silence"}, "SET_MODE_MCS", {"45 1", "45 1"}, kNotSent,
         {kNoBytes, kNoBytes, kFailed45}},
        {"rejected: no retry", {"fault +1 reject"}, "SET_MODE_MCS", {"45 1"}, kRejected, {kFailed45}},
        {"measurement refused", {"fault +1 reject"}, "SHOW_HV", {"59"}, kRejected,
         {"ZEPHCI::QueryInstrument(): Cmd 0x59 failed\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        ZephRig rig(c.pszLine != nullptr);
        rig.Steps(c.setup);
        rig.Mark();
        const size_t nDebug = rig.DebugMark();
        const Result r = rig.ExecOrAttach(c.pszLine);
        EXPECT_EQ(Frames(rig.Sent(), c.pszLine == nullptr), c.frames);
        ExpectResult(r, c.result);
        ExpectMessagesStartWith(rig.DebugSince(nDebug), c.debugPrefixes);
    }
}

TEST(ZephLink, IsActiveReportsASilentInstrumentAsActiveWithStatusMinus3) {
    ZephRig rig;
    int32_t nStatus = 0;
    rig.Step("status 130 2");
    EXPECT_TRUE(rig.Exec("SET_MODE_PHA").bOk);  // drops the cached status
    EXPECT_TRUE(rig.Driver().IsActive(1, &nStatus));
    EXPECT_EQ(nStatus, 1);
    rig.Steps({"status 130 3", "> SET_MODE_PHA"});
    EXPECT_FALSE(rig.Driver().IsActive(1, &nStatus));
    EXPECT_EQ(nStatus, 1);
    rig.Steps({"> SET_MODE_PHA", "fault +1 silence", "fault +2 silence"});
    EXPECT_TRUE(rig.Driver().IsActive(1, &nStatus));
    EXPECT_EQ(nStatus, -3);
    EXPECT_FALSE(rig.Driver().IsActive(2, &nStatus));
    EXPECT_EQ(nStatus, -1);
}

// ---- commands -------------------------------------------------------------------

struct LineCase {
    const char* pszName;
    Texts setup;  // before the driver attaches, so that it reads the status they leave
    Texts lines;  // the last one's result is checked
    Texts frames;  // every frame after attaching but status reads
    Result result;
    const char* pszControl = nullptr;  // the instrument's state afterwards
    const char* pszState = nullptr;
    int32_t nSize = 256;
};

void RunLineCases(const LineCase* pCases, size_t nCases) {
    for (size_t i = 0; i < nCases; ++i) {
        const LineCase& c = pCases[i];
        SCOPED_TRACE(c.pszName);
        ZephRig rig(false);
        rig.Steps(c.setup);
        rig.Attach();
        ASSERT_TRUE(rig.Present());
        rig.Mark();
        Result r;
        for (size_t n = 0; n < c.lines.size(); ++n) r = rig.Exec(c.lines[n], n + 1 == c.lines.size() ? c.nSize : 256);
        EXPECT_EQ(Frames(rig.Sent()), c.frames);
        ExpectResult(r, c.result);
        if (c.pszControl != nullptr) {
            EXPECT_EQ(OkValue(rig.Control(c.pszControl)), c.pszState);
        }
    }
}

const char kLevels[] = "38=4096 42=10 44=3967 74=990 76=1009 130=0";

TEST(ZephCommands, SettingsSendTheirFramesWithValuesFromTheStatus) {
    const LineCase cases[] = {
        {"coarse gain keeps fine", Status("52=9000"), {"SET_GAIN_COARSE 20"}, {"4C 20 9000"}, kDone},
        {"fine gain keeps coarse", Status("50=10"), {"SET_GAIN_FINE 12000"}, {"4C 10 12000"}, kDone},
        {"live preset in seconds", {}, {"SET_LIVE_PRESET 149"}, {"48 2 2"}, kDone, "status 4", "2"},
        {"live preset below a second clears", {}, {"SET_LIVE_PRESET 49"}, {"48"}, kDone},
        {"true preset", {}, {"SET_TRUE_PRESET 5000"}, {"48 1 100"}, kDone, "status 6", "100"},
        {"integral preset split in halves", {}, {"SET_INTEGRAL_PRESET 70000"}, {"48 3 4464 1"}, kDone},
        {"presets cleared", {}, {"CLEAR_PRESETS"}, {"48"}, kDone},
        {"stabilisation channel", Status(kLevels), {"SET_GAIN_CHANNEL 1000"}, {"4D 1000 990 1009"}, kDone},
        {"adjustment is the channel", Status(kLevels), {"SET_GAIN_ADJUSTMENT -1000"}, {"4D 1000 990 1009"}, kDone},
        {"channel next to the lower level", Status(kLevels), {"SET_GAIN_CHANNEL 13"}, {}, BadLine(128)},
        {"channel next to the upper level", Status(kLevels), {"SET_GAIN_CHANNEL 3964"}, {}, BadLine(128)},
        {"channel while acquiring", Join(Status(kLevels), {"status 130 2"}), {"SET_GAIN_CHANNEL 1000"}, {},
         BadLine(136)},
        {"region widened to 5", Status("38=4096 42=10 44=3967 74=100 76=101"), {"SET_GAIN_CHANNEL 1000"},
         {"4D 1000 998 1002"}, kDone},
        {"region narrowed at the upper level", Status("42=10 44=1008 74=990 76=1009"), {"SET_GAIN_CHANNEL 1000"},
         {"4D 1000 992 1007"}, kDone},
        {"region narrowed at the lower level", Status("42=995 44=3967 74=990 76=1009"), {"SET_GAIN_CHANNEL 1000"},
         {"4D 1000 995 1004"}, kDone},
        {"width around the centre", Status(kLevels), {"SET_GAIN_WIDTH 250"}, {"4D 1000 875 1124"}, kDone},
        {"width 4", Status(kLevels), {"SET_GAIN_WIDTH 4"}, {}, BadLine(128)},
        {"width 251", Status(kLevels), {"SET_GAIN_WIDTH 251"}, {}, BadLine(128)},
        {"stabilisation on", Status(kLevels), {"ENABLE_GAIN_STABILIZATION"}, {"4D 1 990 1009"}, kDone},
        {"stabilisation off", Status(kLevels), {"DISABLE_GAIN_STABILIZATION"}, {"4D 0 990 1009"}, kDone},
        {"stabilisation on while acquiring", Join(Status(kLevels), {"status 130 2"}), {"ENABLE_GAIN_STAB"}, {},
         BadLine(136)},
        {"stabilisation initialised", Status(kLevels), {"INITIALIZE_GAIN_STABILIZATION"}, {"4D 1000 990 1009"}, kDone},
        {"one-channel region left alone", Status("74=990 76=990 130=0"), {"INITIALIZE_GAIN_STAB"}, {}, kDone},
        {"mode", {}, {"SET_MODE_MCS", "SHOW_MODE"}, {"45 1"}, Shown(Record(FormatF, "MCS"))},
        {"mode pha", {}, {"SET_MODE_PHA"}, {"45"}, kDone},
        {"conversion gain with its upper level", {}, {"SET_GAIN_CONVERSION 4096"}, {"46 4096 0 3967"}, kDone},
        {"conversion gain sets the window", {}, {"SET_GAIN_CONVERSION 1024", "SHOW_WINDOW"}, {"46 1024 0 991"},
         Shown(Record(FormatD, 0, 1024))},
        {"shaping 0", {}, {"SET_SHAPING 0"}, {"52 1"}, kDone},
        {"shaping 600", {}, {"SET_SHAPING 600"}, {"52 3"}, kDone},
        {"shaping 5", {}, {"SET_SHAPING 5"}, {}, BadLine(128)},
        {"gain negative", {}, {"SET_GAIN_NEGATIVE", "SHOW_GAIN_POLARITY"}, {"56 1"}, Shown(Record(FormatF, "NEG"))},
        {"gain positive", Status("80=1"), {"SET_GAIN_POSITIVE", "SHOW_GAIN_POLARITY"}, {"56"},
         Shown(Record(FormatF, "POS"))},
        {"high voltage kept while off", Status("58=0"), {"SET_HV -1500"}, {"57 31 1500"}, kDone, "roi 31", "1500"},
        {"high voltage applied while on", Status("58=1000 124=1"), {"SET_HV 1500"}, {"57 31 1500", "4F 1500 1"},
         kDone},
        {"lower level", Status(kLevels), {"SET_LLD 100"}, {"46 4096 100 3967"}, kDone},
        {"lower level at the limit", Status(kLevels), {"SET_LLD 3967"}, {}, BadLine(128)},
        {"upper level", Status("38=4096 42=100 44=3967"), {"SET_ULD 3000"}, {"46 4096 100 3000"}, kDone},
        {"upper level at the lower", Status("38=4096 42=100 44=3967"), {"SET_ULD 100"}, {}, BadLine(128)},
        {"pole zero", {}, {"SET_PZADJUST 1200"}, {"58 0 1200"}, kDone},
        {"shutdown kelda, supply off", Status("58=0"), {"SET_SHUTDOWN 1"}, {"4F 0 65535"}, kDone},
        {"shutdown ttl by argument", Status("58=0"), {"SET_SHUTDOWN 0"}, {"4F 0 1"}, kDone},
        {"shutdown off by argument", Status("58=0"), {"SET_SHUTDOWN 2"}, {"4F"}, kDone},
        {"shutdown ttl, supply on", Join(Status("58=800"), Texts{"roi 31 1200"}), {"SET_SHUTDOWN_TTL"},
         {"5E 31", "4F 1200 1"}, kDone},
        {"shutdown off", Status("58=0"), {"SET_SHUTDOWN_OFF"}, {"4F"}, kDone},
        {"threshold", {}, {"SET_THRESHOLD 30", "SHOW_THRESHOLD"}, {"47 30"}, Shown(Record(FormatC, 30))},
        {"input route 3", {}, {"SET_INPUT_ROUTE 3"}, {"54 3"}, kDone},
        {"input route 1", {}, {"SET_INPUT_ROUTE 1"}, {}, BadLine(128)},
        {"high voltage on at its target", Join(Status("58=0 124=1"), Texts{"roi 31 1200"}),
         {"ENABLE_HV", "SHOW_HV_TARGET"}, {"5E 31", "4F 1200 1", "5E 31"}, Shown(Record(FormatD, 1200, 6))},
        {"high voltage off", Status("58=900 124=0"), {"DISABLE_HV"}, {"4F"}, kDone},
        {"pile-up rejection", {}, {"ENABLE_PUR", "SHOW_PUR"}, {"53 1"}, Shown(Record(FormatI, true))},
        {"pile-up rejection off", Status("84=1"), {"DISABLE_PUR", "SHOW_PUR"}, {"53"}, Shown(Record(FormatI, false))},
        {"reset", {}, {"RESET"}, {"41"}, kDone},
        {"initialise", {}, {"INITIALIZE"}, {"41"}, kDone},
        {"answered without the instrument", {},
         {"SET_GAIN_PRESET 5", "SET_MODE_GAUSS", "SET_MODE_POINT", "SET_RADIX_BINARY", "SET_DATE 1,2,3",
          "SET_TIME 4,5,6", "SET_HV_NEGATIVE", "SET_HV_POSITIVE", "SET_WIDTH_REJECT 3", "COMPUTER", "TERMINAL",
          "ENABLE_REMOTE", "DISABLE_REMOTE", "RESET_REMOTE"},
         {}, kDone},
    };
    RunLineCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(ZephCommands, AcquisitionAndClearingFollowTheInstrumentsState) {
    const LineCase cases[] = {
        {"start from idle", Status("130=0"), {"START"}, {"42 1 T"}, kDone, "status 130", "2"},
        {"start resumes a stopped run", Status("130=3"), {"START 7"}, {"42 0 T"}, kDone},
        {"start while running", Status("130=2"), {"START"}, {}, kDone},
        {"start at the preset", Status("130=4"), {"START"}, {}, kDone},
        {"stop while running", Status("130=2"), {"STOP"}, {"43"}, kDone},
        {"stop while idle", Status("130=0"), {"STOP"}, {}, kDone},
        {"clear while idle", Status("130=0"), {"CLEAR"}, {"44", "44 1"}, kDone},
        {"clear while running", Status("130=2"), {"CLEAR"}, {"42 1 T"}, kDone},
        {"clear data while running", Status("130=2"), {"CLEAR_DATA"}, {"44", "42 1 T"}, kDone},
        {"clear all while idle", Status("130=0"), {"CLEAR_ALL"}, {"44 3"}, kDone},
        {"clear counters while running", Status("130=2"), {"CLEAR_COUNTER"}, {"44 1", "42 1 T"}, kDone},
        {"clear refused: no restart", Join(Status("130=2"), {"fault +2 reject"}), {"CLEAR_DATA"}, {"44"}, kRejected},
    };
    RunLineCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(ZephCommands, ReportsDecodeTheStatus) {
    const std::string kConfiguration = "0409600001" "02048" + std::string(75, '0');
    const LineCase cases[] = {
        // 100 s true, 2 s dead: 5000 and 4900 ticks.
        {"live", Status("22=100 30=2000"), {"SHOW_LIVE"}, {}, Shown(Record(FormatG, 4900))},
        {"true", Status("22=100 30=2000"), {"SHOW_TRUE"}, {}, Shown(Record(FormatG, 5000))},
        {"status", Status("22=100 30=2000 130=2 58=500 60=1"), {"SHOW_STATUS"}, {},
         Shown(Record(FormatM, 4900, 5000, 1, 7))},
        {"status idle, supply off", Status("22=1 30=0 130=3 58=0 60=0"), {"SHOW_STATUS"}, {},
         Shown(Record(FormatM, 50, 50, 0, 2))},
        {"device", {}, {"SHOW_DEVICE"}, {}, Shown(Record(FormatA, 1))},
        {"segment", {}, {"SHOW_SEGMENT"}, {}, Shown(Record(FormatA, 1))},
        {"active", Status("130=2"), {"SHOW_ACTIVE"}, {}, Shown(Record(FormatC, 1))},
        {"active devices", Status("130=4"), {"SHOW_ACTIVE_DEVICES"}, {}, Shown(Record(FormatC, 0))},
        {"stabilisation on", Status("70=1000"), {"SHOW_GAIN_STABILIZATION"}, {}, Shown(Record(FormatI, true))},
        {"live preset", Status("4=2 6=100"), {"SHOW_LIVE_PRESET"}, {}, Shown(Record(FormatG, 5000))},
        {"live preset of another kind", Status("4=1 6=100"), {"SHOW_LIVE_PRESET"}, {}, Shown(Record(FormatG, 0))},
        {"true preset", Status("4=1 6=100"), {"SHOW_TRUE_PRESET"}, {}, Shown(Record(FormatG, 5000))},
        {"integral preset", Status("4=3 6=70000"), {"SHOW_INTEGRAL_PRESET"}, {}, Shown(Record(FormatG, 70000))},
        {"shaping first", Status("82=1"), {"SHOW_SHAPING"}, {}, Shown(Record(FormatC, 0))},
        {"shaping second", Status("82=3"), {"SHOW_SHAPING"}, {}, Shown(Record(FormatC, 1))},
        {"version", Status("92=0xABC"), {"SHOW_VERSION"}, {}, Shown(Record(FormatF, "ZEPH-ABC"))},
        {"high voltage measured", Join(Status("58=1000 60=0"), {"measure 30 1000"}), {"SHOW_HV"}, {"59"},
         Shown(Record(FormatD, 1200, 6))},
        {"high voltage actual", Join(Status("58=0 60=1"), {"measure 30 0"}), {"SHOW_HV_ACTUAL"}, {"59"},
         Shown(Record(FormatD, 0, 3))},
        // 4294967295 x 1.2 = 5153960754, which only its low 16 bits carry.
        {"high voltage past 32 bits", Join(Status("58=0 60=0"), {"measure 30 4294967295"}), {"SHOW_HV"}, {"59"},
         Shown(Record(FormatD, 5153960754 % 65536, 2))},
        {"high voltage polarity", Status("60=1"), {"SHOW_HV_POLARITY"}, {}, Shown(Record(FormatF, "NEG"))},
        {"configuration", Status("38=2048"), {"SHOW_CONFIGURATION"}, {}, Shown(Record(FormatJ, kConfiguration.c_str()))},
        {"coarse gain", Status("50=200"), {"SHOW_GAIN_COARSE"}, {}, Shown(Record(FormatC, 200))},
        {"fine gain", Status("52=7000"), {"SHOW_GAIN_FINE"}, {}, Shown(Record(FormatC, 7000))},
        {"conversion gain", Status("38=512"), {"SHOW_GAIN_CONVERSION"}, {}, Shown(Record(FormatC, 512))},
        {"gain preset", {}, {"SHOW_GAIN_PRESET"}, {}, Shown(Record(FormatC, 0))},
        {"stabilisation channel", Status(kLevels), {"SHOW_GAIN_CHANNEL"}, {}, Shown(Record(FormatC, 999))},
        {"stabilisation width", Status(kLevels), {"SHOW_GAIN_WIDTH"}, {}, Shown(Record(FormatC, 20))},
        {"gain adjustment", Status("70=995 74=990 76=1009"), {"SHOW_GAIN_ADJUSTMENT"}, {},
         Shown(Record(FormatListU, "GAIN_ADJ", 62))},
        {"gain adjustment outside", Status("70=0 74=990 76=1009"), {"SHOW_GAIN_ADJUSTMENT"}, {},
         Shown(Record(FormatListU, "GAIN_ADJ", 125))},
        {"features", {}, {"SHOW_FEATURES"}, {},
         Shown(Record(FormatListUUUU, "FEATURES", 27891823u, 1627963404u, 1073742848u, 0u))},
        {"remote", {}, {"SHOW_REMOTE"}, {}, Shown(Record(FormatI, false))},
        {"mode", Status("2=0"), {"SHOW_MODE"}, {}, Shown(Record(FormatF, "PHA"))},
        {"stabilisation mode", {}, {"SHOW_MODE_STABILIZATION"}, {}, Shown(Record(FormatF, "POINT"))},
        {"uart", {}, {"SHOW_CONFIGURATION_UART"}, {}, Shown(Record(FormatF, "038400N81"))},
        {"mask", {}, {"SHOW_CONFIGURATION_MASK"}, {}, Shown(Record(FormatListUU, "CONF_MASK", 2147483647u, 2147483648u))},
        {"serial number", Status("88=4711"), {"SHOW_SNUM"}, {}, Shown(Record(FormatF, "4711"))},
        {"radix", {}, {"SHOW_RADIX"}, {}, Shown(Record(FormatF, "BIN"))},
        {"levels", Status("42=12"), {"SHOW_LLD"}, {}, Shown(Record(FormatC, 12))},
        {"upper level", Status("44=3000"), {"SHOW_ULD"}, {}, Shown(Record(FormatC, 3000))},
        {"width reject", {}, {"SHOW_WIDTH_REJECT"}, {}, Shown(Record(FormatC, 0))},
        {"pole zero", Status("64=1234"), {"SHOW_PZADJUST"}, {}, Shown(Record(FormatListD, "PZ_ENA", 1234))},
        {"shutdown kelda", Status("124=-1"), {"SHOW_SHUTDOWN"}, {}, Shown(Record(FormatF, "1KEL"))},
        {"shutdown ttl", Status("124=1"), {"SHOW_SHUTDOWN"}, {}, Shown(Record(FormatF, "0TTL"))},
        {"shutdown off", Status("124=0"), {"SHOW_SHUTDOWN"}, {}, Shown(Record(FormatF, "2OFF"))},
        {"count rate", Status("26=9876"), {"SHOW_CRM"}, {}, Shown(Record(FormatListU, "CRM", 9876))},
        {"input route", Status("78=4"), {"SHOW_INPUT_ROUTE"}, {}, Shown(Record(FormatF, "4DIR-"))},
        {"dead-time correction", Status("66=11 68=22"), {"SHOW_DTC"}, {}, Shown(Record(FormatD, 11, 22))},
        {"discriminators", Status("54=33 56=44"), {"SHOW_DISCRIMINATOR"}, {}, Shown(Record(FormatD, 33, 44))},
        {"revision", Status("90=5 92=0x123"), {"SHOW_REVISION"}, {}, Shown(Record(FormatD, 5, 0x123))},
        {"power", Status("62=0xAB"), {"SHOW_POWER"}, {}, Shown(Record(FormatC, 0xA0))},
        {"window", {}, {"SET_WINDOW 100,200", "SHOW_WINDOW"}, {}, Shown(Record(FormatD, 100, 200))},
        {"window reset to the gain", Status("38=2048"), {"SET_WINDOW 100,200", "SET_WINDOW", "SHOW_WINDOW"}, {},
         Shown(Record(FormatD, 0, 2048))},
        {"window too long", {}, {"SET_WINDOW 4000,200"}, {}, BadLine(129)},
        {"window with one argument", {}, {"SET_WINDOW 5"}, {}, BadLine(132)},
        {"device resets the window", Status("38=1024"), {"SET_WINDOW 10,10", "SET_DEVICE 1", "SHOW_WINDOW"}, {},
         Shown(Record(FormatD, 0, 1024))},
        {"record too long for the buffer", {}, {"SHOW_FEATURES"}, {}, BadLine(134), nullptr, nullptr, 20},
    };
    RunLineCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(ZephCommands, ListingsAndTheBatteryAreTextsWithTheirNul) {
    const std::string kBattery = "BATT 0 1.500000000000000 0.250000000000000 10 14 18 22 2 6 54\n";
    Texts measures;
    for (int nOffset : {2, 6, 10, 14, 18, 22, 54}) {
        measures.push_back("measure " + std::to_string(nOffset) + " " + std::to_string(nOffset));
    }
    measures.push_back("measure 26 1500");
    measures.push_back("measure 30 250");
    const LineCase cases[] = {
        {"coarse", {}, {"LIST_GAIN_COARSE"}, {}, Text("GAIN_COAR 2 5 10 20 50 100 200 500 1000\n")},
        {"conversion", {}, {"LIST_GAIN_CONVERSION"}, {}, Text("GAIN_CONV 128 256 512 1024 2048 4096\n")},
        {"fine", {}, {"LIST_GAIN_FINE"}, {}, Text("GAIN_FINE 0.5 1.5 5000 15000\n")},
        {"adjustment", {}, {"LIST_GAIN_ADJUSTMENT"}, {}, Text("GAIN_ADJ -100.0 100.0 0 249\n")},
        {"shutdown", {}, {"LIST_SHUTDOWN"}, {}, Text("SHUTDOWN TTL KELDA OFF\n")},
        {"text with its nul only just fits", {}, {"LIST_SHUTDOWN"}, {}, Text("SHUTDOWN TTL KELDA OFF\n"), nullptr,
         nullptr, 24},
        {"text without room for its nul", {}, {"LIST_SHUTDOWN"}, {}, BadLine(134), nullptr, nullptr, 23},
        {"battery", measures, {"SHOW_STATUS_BATTERY"}, {"59"}, Text(kBattery)},
    };
    RunLineCases(cases, sizeof cases / sizeof cases[0]);
}

// ---- ROIs and spectra ---------------------------------------------------------

TEST(ZephRoi, TableSlotsCarryTheRoisBothWays) {
    const LineCase cases[] = {
        {"roi written as table slots", Status("44=3967"), {"SET_ROI 10,3"}, {"57 0 20306 1", "57 1 10 12", "49 10 3"},
         kDone, "roi 1", "10 12"},
        {"second roi", Status("44=3967"), {"SET_ROI 10,3", "SET_ROI 100,50"},
         {"57 0 20306 1", "57 1 10 12", "49 10 3", "57 0 20306 2", "57 1 10 12", "57 2 100 149", "49 100 50"}, kDone},
        {"roi at or above the upper level", Status("44=3967"), {"SET_ROI 3967,1"}, {}, BadLine(128)},
        {"roi without length", Status("44=4095"), {"SET_ROI 10,0"}, {}, BadLine(129)},
        {"roi past the last channel", Status("44=4095"), {"SET_ROI 4090,7"}, {}, BadLine(129)},
        {"rois read from the instrument", Texts{"roi 1 10 12", "roi 2 300 400", "roi 0 2"}, {"SHOW_ROI"},
         {"5E", "5E 1", "5E 2"}, Shown(Record(FormatD, 10, 3))},
        {"next roi", Texts{"roi 1 10 12", "roi 2 300 400", "roi 0 2"}, {"SHOW_ROI", "SHOW_NEXT"}, {"5E", "5E 1", "5E 2"},
         Shown(Record(FormatD, 300, 101))},
        {"no roi after the last", Texts{"roi 1 10 12", "roi 0 1"}, {"SHOW_ROI", "SHOW_NEXT"}, {"5E", "5E 1"},
         Shown(Record(FormatD, 0, 0))},
        {"a table without its marker is empty", {"request 0x57 0 0x1234 2"}, {"SHOW_ROI"}, {"5E"},
         Shown(Record(FormatD, 0, 0))},
        {"roi cleared in the window", Status("44=3967"), {"SET_ROI 10,3", "SET_WINDOW 0,11", "CLEAR_ROI", "SHOW_ROI"},
         {"57 0 20306 1", "57 1 10 12", "49 10 3", "57 0 20306 1", "57 1 11 12"}, Shown(Record(FormatD, 11, 2))},
    };
    RunLineCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(ZephSpectrum, BlocksOf32ChannelsGiveTheCountsWithTheirRoiFlags) {
    ZephRig rig;
    std::vector<uint32_t> counts(kZephChannels);
    for (uint32_t i = 0; i < counts.size(); ++i) counts[i] = Pattern(i, 0x80000000ULL);
    counts[11] = 2;
    rig.SetCounts(counts);
    rig.Steps(Texts{"roi 1 10 12", "roi 0 1"});
    std::vector<uint32_t> dwData(kZephChannels);
    ASSERT_EQ(rig.ReadData(kZephChannels, dwData.data()), 1);
    Texts expected;
    for (uint32_t n = 0; n < 4096; n += 32) expected.push_back("5B " + std::to_string(n) + " 1");
    expected.insert(expected.end(), {"5E", "5E 1"});
    EXPECT_EQ(Frames(rig.Sent()), expected);
    for (uint32_t i = 0; i < counts.size(); ++i) {
        const uint32_t dwFlag = (i >= 10 && i <= 12) ? 0x80000000u : 0;
        ASSERT_EQ(dwData[i], counts[i] | dwFlag) << i;
    }
    // Sums over the table's ROIs, and over a range, unflagged.
    EXPECT_EQ(rig.Exec("SHOW_INTEGRAL 11,1").sResp, Record(FormatG, 2));
    const uint64_t nRoiSum = uint64_t(counts[10]) + counts[11] + counts[12];
    EXPECT_EQ(rig.Exec("SHOW_INTEGRAL").sResp, Record(FormatG, nRoiSum > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(nRoiSum)));
    ExpectResult(rig.Exec("SHOW_INTEGRAL 5"), BadLine(132));
}

TEST(ZephSpectrum, IntegralOfTheRoiTable) {
    ZephRig rig;
    rig.SetCounts(std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 100});
    rig.Steps(Texts{"roi 1 10 12", "roi 0 1"});
    ExpectResult(rig.Exec("SHOW_INTEGRAL"), Shown(Record(FormatG, 6)));
}

// A read that fails part-way leaves what every process sees as it was.
TEST(ZephSpectrum, AFailedBlockLeavesTheCacheAsItWas) {
    ZephRig rig;
    rig.SetCounts({5, 6, 7});
    uint32_t dwData[3] = {};
    ASSERT_EQ(rig.ReadData(3, dwData), 1);
    ZephCommonData& common = *rig.Driver().m_pCommonData;
    const uint32_t dwReadTick = common.dwLastReadTick;
    rig.SetCounts({8, 9, 10});
    common.dwLastReadTick -= 1000;  // older than the cache keeps
    rig.Steps({"fault +70 reject"});
    rig.Mark();
    EXPECT_EQ(rig.ReadData(3, dwData), -3);
    EXPECT_EQ(common.bDataValid, 1);
    EXPECT_EQ(common.dwLastReadTick, dwReadTick - 1000);
    EXPECT_EQ(std::vector<uint32_t>(common.dwChannel, common.dwChannel + 3), (std::vector<uint32_t>{5, 6, 7}));
    EXPECT_EQ(Frames(rig.Sent()).size(), 70u);
    ASSERT_EQ(rig.ReadData(3, dwData), 1);
    EXPECT_EQ(std::vector<uint32_t>(dwData, dwData + 3), (std::vector<uint32_t>{8, 9, 10}));
}

TEST(ZephSpectrum, BadArgumentsOtherDetectorsAndWritesSendNothing) {
    ZephRig rig;
    ExpectBadArgumentsSendNothing(rig);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
