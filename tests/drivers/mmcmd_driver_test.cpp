// The TAVO and PELLUX drivers against the simulated numbered-command
// instrument (driver_rig.h): frames as the instrument heard them, decoded by
// this test's own reading of the wire log, records answered, and the
// translation of every command checked against an independent list of
// exchange shapes and record kinds.

#include <cmath>
#include <cstring>
#include <map>

#include "drivers/driver_rig.h"
#include "drivers/mmcmd/mmcmdci.h"

namespace linkbay {
namespace test {
namespace {

template <class Driver>
class MmcmdRig : public DriverRig<Driver> {
public:
    explicit MmcmdRig(const char* pszFamily) : DriverRig<Driver>(pszFamily) {}
};
using TavoRig = MmcmdRig<TAVOCI>;

uint32_t Big32(const std::string& s, size_t n) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(s[n])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[n + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[n + 2])) << 8) | static_cast<uint8_t>(s[n + 3]);
}

std::string Hex(const std::string& sBytes) {
    std::string s;
    char sz[4];
    for (char c : sBytes) {
        std::snprintf(sz, sizeof sz, "%02x", static_cast<uint8_t>(c));
        s += sz;
    }
    return s;
}

// Each frame as "COMMAND/REPLY-LENGTH" and its parameter bytes in hex.
Texts Frames(const std::string& sBytes) {
    Texts frames;
    for (size_t n = 0; n + 10 <= sBytes.size();) {
        const uint32_t nLength = Big32(sBytes, n);
        if (nLength < 10 || n + nLength > sBytes.size()) {
            frames.push_back("<no frame>");
            break;
        }
        const unsigned nCommand = static_cast<uint8_t>(sBytes[n + 8]) | (static_cast<uint8_t>(sBytes[n + 9]) << 8);
        std::string sFrame = std::to_string(nCommand) + "/" + std::to_string(Big32(sBytes, n + 4));
        if (nLength > 10) sFrame += " " + Hex(sBytes.substr(n + 10, nLength - 10));
        frames.push_back(sFrame);
        n += nLength;
    }
    return frames;
}

std::string W(uint32_t dw) {
    char sz[12];
    std::snprintf(sz, sizeof sz, "%08x", dw);
    return sz;
}
std::string F(float f) {
    uint32_t dw = 0;
    std::memcpy(&dw, &f, sizeof dw);
    return W(dw);
}
std::string T(const std::string& s) { return Hex(s + '\0'); }

// The texts, one after the other, in the debug output (some messages end
// in a bare line feed, so they are not told apart as messages).
void ExpectInOrder(const std::string& sText, const Texts& fragments) {
    size_t nAt = 0;
    for (const std::string& sFragment : fragments) {
        const size_t nFound = sText.find(sFragment, nAt);
        ASSERT_NE(nFound, std::string::npos) << "\"" << sFragment << "\" after " << nAt << " in:\n" << sText;
        nAt = nFound + sFragment.size();
    }
}

// ---- link ----------------------------------------------------------------------

TEST(MmcmdLink, FramesRepliesAndFailuresByteForByte) {
    struct Case {
        const char* pszName;
        Texts setup;
        const char* pszLine;
        std::string sSent;  // hex
        Result result;
        Texts debugPrefixes;
    };
    const std::string kSending = "Sending TAVO Cmd: ";
    const Case cases[] = {
        {"no parameters", {"request 62 256"}, "SHOW_LIVE", "0000000a000000067d00", Shown(Record(FormatG, 256)),
         {kSending + "125 \r\n"}},
        {"text parameter", {}, "SET_SNUM \"AB\"", "0000000d000000024f00" "414200", kDone, {kSending + "79 \r\n"}},
        {"two texts", {}, "SET_DATA_APP \"A\",\"B\"", "0000000e000000022c00" "41004200", kDone, {kSending + "44 \r\n"}},
        {"instrument warning passed on", {"request 62 7", "error 125 0 64"}, "SHOW_LIVE", "0000000a000000067d00",
         {true, Record(FormatG, 7), 0, 64},
         {kSending + "125 \r\n", "TAVO ExecCmd: 125   Error. (mac/mic) = (0/64)\n"}},
        {"instrument error passed on", {"error 63 131 133"}, "SET_LIVE_PRESET 10", "0000000e000000023f00" + W(10),
         {true, "", 131, 133},
         {kSending + "63 \r\n", "TAVO ExecCmd: 63   Error. (mac/mic) = (131/133)\n"}},
        {"reply cut short", {"fault +1 short 3"}, "SHOW_LIVE", "0000000a000000067d00", {false, "", 131, 137},
         {kSending + "125 \r\n", "RS232CI::COMRead(): Incomplete ReadFile(), wanted 6, got 3", "Error reading response\n",
          "Error Sending TAVO MMCmd.\n", "TAVO ExecCmd: 125   Error. (mac/mic) = (131/137)\n",
          "TAVO ExecCmd: 125   Failed.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        TavoRig rig("tavo");
        rig.Steps(c.setup);
        rig.Mark();
        const size_t nDebug = rig.DebugMark();
        ExpectResult(rig.Exec(c.pszLine), c.result);
        EXPECT_EQ(Hex(rig.Sent()), c.sSent);
        ExpectInOrder(rig.DebugTextSince(nDebug), c.debugPrefixes);
    }
}

// A line that is gone cannot take the frame: both attempts fail and name the port.
TEST(MmcmdLink, AFrameNotWrittenFailsWithMinus3AndNamesThePort) {
    DriverRig<PELLUXCI> rig("pellux");
    rig.Step("fault +1 hangup 3000");
    ExpectResult(rig.Exec("SHOW_LIVE"), {false, "", 131, 137});
    const size_t nDebug = rig.DebugMark();
    ExpectResult(rig.Exec("START"), {false, "", -3, 0});
    const std::string kUnsent = "KORVCI::QueryInstrument(COM1: \"\"): Error sending command:\r\n    ";
    ExpectInOrder(rig.DebugTextSince(nDebug), {"Sending PX Cmd: 165 \r\n", kUnsent, kUnsent,
                                                "PX ExecCmd: 165   Error. (mac/mic) = (-3/0)\n",
                                                "PX ExecCmd: 165   Failed.\n"});
}

TEST(MmcmdLink, ChannelsComeIn128ChannelExchanges) {
    TavoRig rig("tavo");
    std::vector<uint32_t> counts(400);
    for (uint32_t i = 0; i < counts.size(); ++i) counts[i] = Pattern(i, 0x100000000ULL);
    rig.SetCounts(counts);
    std::vector<uint32_t> data(201, 0xDEADBEEF);
    ASSERT_EQ(rig.ReadData(0, data.data()), 1);
    rig.Mark();
    EXPECT_EQ(rig.Driver().ReadData(1, 0, 100, 200, data.data()), 1);
    EXPECT_EQ(Frames(rig.Sent()), (Texts{"187/514 " + W(100), "187/514 " + W(228)}));
    for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(data[i], counts[100 + i]) << i;
    EXPECT_EQ(data[200], 0xDEADBEEFu);
    rig.Mark();
    EXPECT_EQ(rig.Driver().ReadData(1, 0, 1, 1, data.data()), 1);
    EXPECT_EQ(Hex(rig.Sent()), "0000000e00000202bb0000000001");
    EXPECT_EQ(rig.Driver().ReadData(1, 0, 32700, 69, data.data()), -1);
    EXPECT_EQ(rig.Driver().WriteData(1, 0, 0, 1, 0, nullptr), 1);
    int32_t nStatus = 0;
    EXPECT_FALSE(rig.Driver().IsActive(2, &nStatus));
    EXPECT_EQ(nStatus, -1);
    rig.Step("request 165");
    EXPECT_TRUE(rig.Driver().IsActive(1, &nStatus));
    EXPECT_EQ(nStatus, 1);
}

// ---- translation ------------------------------------------------------------------

// How a command goes out and comes back, as an independent list: the reply
// length asked for, the parameters sent for the arguments "7,8,9" (or the
// text arguments "AB","CD"), and the start of the record.
struct Shape {
    const char* pszName;
    uint32_t nReply;
    std::string sParams;  // hex, for the arguments below
    const char* pszArgs;
    const char* pszRecord;  // start of the answer; "" none
    std::vector<const char*> lines;
};

TEST(MmcmdCommands, EveryCommandGoesOutAsItsShapeAndAnswersItsRecord) {
    const std::string k7 = W(7), k78 = W(7) + W(8), k789 = W(7) + W(8) + W(9);
    const Shape shapes[] = {
        {"action", 2, "", "", "",
         {"CLEAR_COUNTER", "CLEAR_PRESETS", "DISABLE_BLRESTORE_AUTOMATIC", "DISABLE_GAIN_STABILIZATION",
          "DISABLE_HV", "DISABLE_OPTIMIZE_NEEDED", "DISABLE_PZADJUST_AUTOMATIC", "DISABLE_PZADJUST_NEEDED",
          "DISABLE_THRESHOLD_SAMPLE", "DISABLE_THRESHOLD_AUTOMATIC", "DISABLE_ZERO_STABILIZATION",
          "ENABLE_BLRESTORE_AUTOMATIC", "ENABLE_GAIN_STABILIZATION", "ENABLE_HV", "ENABLE_OPTIMIZE_NEEDED",
          "ENABLE_OVERFLOW_PRESET", "ENABLE_PZADJUST_AUTOMATIC", "ENABLE_PZADJUST_NEEDED", "ENABLE_THRESHOLD_SAMPLE",
          "ENABLE_THRESHOLD_AUTOMATIC", "ENABLE_ZERO_STABILIZATION", "INITIALIZE", "INITIALIZE_GAIN_STABILIZATION",
          "INITIALIZE_ZERO_STABILIZATION", "OPEN_FILE_FLASH", "RESET", "SAMPLE", "SET_GAIN_NEGATIVE",
          "SET_GAIN_POSITIVE", "SET_SHUTDOWN_KELDA", "SET_SHUTDOWN_TTL", "SHOW_CORRECTION_ALL", "START",
          "START_FLATTOP_AUTOMATIC", "START_OPTIMIZE", "START_PZADJUST_AUTOMATIC", "STOP", "STOP_OPTIMIZE",
          "STOP_PZADJUST_AUTOMATIC", "DISABLE_OVERFLOW_PRESET", "ERASE_FLASH_FULL", "ENABLE_GATE_ROUTE",
          "DISABLE_GATE_ROUTE", "CLEAR_NUCLIDE_ALL", "CLEAR_HV_HEALTH", "SET_SHUTDOWN_SMART", "DISABLE_DISPLAY",
          "ENABLE_DISPLAY", "CLEAR_SPECTRUM_ALL", "WRITE_SPECTRUM", "SET_GATE_OFF", "SET_GATE_COIN",
          "SET_GATE_ANTI", "ENABLE_NAI", "DISABLE_NAI", "WRITE_CONFIGURATION", "ERASE_CONFIGURATION_ALL", "OFF",
          "ENABLE_HV_DIM", "DISABLE_HV_DIM", "SET_GATE_INHIBIT"}},
        {"one word", 2, k7, " 7", "",
         {"CLOSE_FILE_FLASH", "MOVE", "SET_DEBUG", "SET_DELAY_SAMPLE", "SET_GAIN_CHANNEL", "SET_GAIN_COARSE",
          "SET_GAIN_PRESET", "SET_GAIN_WIDTH", "SET_HV", "SET_INTEGRAL_PRESET", "SET_LIVE", "SET_LIVE_PRESET",
          "SET_LLDISCRIMINATOR", "SET_MARKER", "SET_MODE_TEST", "SET_PEAK_PRESET", "SET_PZADJUST",
          "SET_PZADJUST_DELAY", "SET_ROI_SAMPLE", "SET_SHUTDOWN", "SET_THRESHOLD_POSITIVE",
          "SET_TRUE", "SET_TRUE_PRESET", "SET_ULDISCRIMINATOR", "SET_ZERO_CHANNEL", "SET_ZERO_PRESET",
          "SET_ZERO_WIDTH", "TEST", "SET_FRONTEND_BYPASS", "SET_PEAK_ALIGNMENT", "READ_CONFIGURATION",
          "ERASE_CONFIGURATION", "CLEAR_NUCLIDE", "CLEAR_MDA_PRESET", "SET_GAIN_ADJUSTMENT",
          "SET_ZERO_ADJUSTMENT", "SET_GAIN_CONVERSION"}},
        {"one word, 512", 2, W(512), " 512", "", {"SET_LENGTH_SAMPLE"}},
        {"one negative word", 2, W(0xFFFFFFF9u), " -7", "", {"SET_THRESHOLD_NEGATIVE", "SET_GAIN_ADJUSTMENT"}},
        {"no argument: the default", 2, W(20), "", "", {"CLEAR_MDA_PRESET"}},
        {"one flag word", 2, W(1), " 1", "",
         {"SET_HV_POLARITY", "SET_CGAIN_SPECIAL", "SET_RS232_SPECIAL", "SET_CONFIGURATION_SPECIAL",
          "SET_TRIGGER_SAMPLE"}},
        {"two words", 2, k78, " 7,8", "", {"SET_ROI", "SET_ROI_UNCERT"}},
        {"two small words", 2, W(1) + W(8), " 1,8", "", {"SET_TCCOMP"}},
        {"three words", 2, k789, " 7,8,9", "",
         {"BACKDOOR", "SET_ROI_NUCLIDE", "SET_ROI_MDA", "SET_DATE", "SET_DATE_START", "SET_TIME", "SET_TIME_START"}},
        {"two of three words", 2, k78 + W(0), " 7,8", "", {"SET_ROI_MDA"}},
        {"whole memory", 2, W(0) + W(32768), "", "", {"CLEAR", "CLEAR_ALL", "CLEAR_DATA"}},
        {"one float", 2, F(7), " 7", "", {"SET_UNCERT_PRESET", "SET_SHUTDOWN_TEMPERATURE"}},
        {"float and word", 2, F(7) + W(8), " 7,8", "", {"SET_NUCLIDE_COEF", "SET_MDA_PRESET"}},
        {"float and the default", 2, F(7) + W(20), " 7", "", {"SET_MDA_PRESET"}},
        {"three floats", 2, F(7) + F(8) + F(9), " 7,8,9", "", {"SET_MDA_COEF"}},
        {"text", 2, T("AB"), " \"AB\"", "",
         {"SET_SNUM", "SET_ID", "SET_NUCLIDE_UNITS", "SET_DETECTOR_SNUM", "SET_HV_RECOMMEND", "SET_DETECTOR_MODEL",
          "SET_DETECTOR_CMD", "SET_CONFIGURATION_LABEL"}},
        {"word and text", 2, W(7) + T("AB"), " 7,\"AB\"", "", {"SET_NUCLIDE_DESC"}},
        {"two texts", 2, T("AB") + T("CD"), " \"AB\",\"CD\"", "", {"SET_DATA_APPLICATION"}},
        {"number $A", 6, "", "", "$A", {"SHOW_DEBUG", "SHOW_LIVE_ADJUSTMENT", "SHOW_MODE_TEST"}},
        {"number $C", 6, "", "", "$C",
         {"SHOW_ACTIVE", "SHOW_ACTIVE_DEVICES", "SHOW_ADC_CONVERSION", "SHOW_DELAY_SAMPLE", "SHOW_GAIN_CHANNEL",
          "SHOW_GAIN_COARSE", "SHOW_GAIN_CONVERSION", "SHOW_GAIN_WIDTH", "SHOW_LENGTH_SAMPLE",
          "SHOW_LLDISCRIMINATOR", "SHOW_ROI_SAMPLE", "SHOW_ULDISCRIMINATOR", "SHOW_ZERO_CHANNEL",
          "SHOW_ZERO_WIDTH", "SHOW_HV_HEALTH"}},
        {"number of $C", 6, W(2), " 2", "$C", {"SHOW_TCCOMP"}},
        {"number $G", 6, "", "", "$G",
         {"SHOW_GAIN_PRESET", "SHOW_INTEGRAL_PRESET", "SHOW_INTEGRAL_REMAINING", "SHOW_LIVE", "SHOW_LIVE_PRESET",
          "SHOW_LIVE_REMAINING", "SHOW_PEAK_PRESET", "SHOW_TRUE", "SHOW_TRUE_PRESET", "SHOW_TRUE_REMAINING",
          "SHOW_ZERO_PRESET", "SHOW_FRONTEND_BYPASS", "SHOW_SPECTRUM_COUNT", "SHOW_CONFIGURATION_COUNT"}},
        {"flag $I", 6, "", "", "$I",
         {"SHOW_BLRESTORE_AUTOMATIC", "SHOW_GAIN_STABILIZATION", "SHOW_PZADJUST_AUTOMATIC", "SHOW_PZADJUST_DELAY",
          "SHOW_SHUTDOWN_ACTUAL", "SHOW_THRESHOLD_AUTOMATIC", "SHOW_ZERO_STABILIZATION", "SHOW_OVERFLOW_PRESET",
          "SHOW_GATE_ROUTE", "SHOW_ZDT", "SHOW_CGAIN_SPECIAL", "SHOW_RS232_SPECIAL", "SHOW_NAI",
          "SHOW_CONFIGURATION_SPECIAL", "SHOW_HV_DIM"}},
        {"pair $D", 10, "", "", "$D",
         {"SHOW_HV", "SHOW_HV_ACTUAL", "SHOW_HV_TARGET", "SHOW_NEXT", "SHOW_ROI", "SHOW_ROI_UNCERT"}},
        {"pair of $D", 10, W(2), " 2", "$D", {"SHOW_ROI_NUCLIDE", "SHOW_ROI_MDA"}},
        {"triple $N", 14, "", "", "$N", {"SHOW_DATE", "SHOW_DATE_START", "SHOW_TIME", "SHOW_TIME_START"}},
        {"four $M", 18, "", "", "$M", {"SHOW_STATUS"}},
        {"float of", 6, W(2), " 2", "", {"SHOW_NUCLIDE_COEF", "SHOW_MDA", "SHOW_MDA_PRESET"}},
        {"floats of", 10, W(2), " 2", "NUCLIDE ", {"SHOW_NUCLIDE"}},
        {"three floats", 14, "", "", "MDA_COEF ", {"SHOW_MDA_COEF"}},
        {"float", 6, "", "", "",
         {"SHOW_UNCERT_PRESET", "SHOW_UNCERT", "SHOW_SHUTDOWN_TEMPERATURE", "SHOW_DETECTOR_TEMPERATURE"}},
        {"text of 32", 34, "", "", "$F",
         {"SHOW_CONFIGURATION_UART", "SHOW_VERSION", "SHOW_ID", "SHOW_NUCLIDE_UNITS", "SHOW_DETECTOR_SNUM",
          "SHOW_HV_RECOMMEND", "SHOW_DETECTOR_MODEL", "SHOW_CONFIGURATION_LABEL"}},
        {"text of 8", 10, "", "", "$F", {"SHOW_SNUM"}},
        {"configuration text", 98, "", "", "$J", {"SHOW_CONFIGURATION"}},
        {"text of 32 for a word", 34, W(2), " 2", "$F", {"SHOW_CONFIGURATION_ID"}},
        {"text of 32 for word 0", 34, W(0), "", "$F", {"SHOW_DETECTOR_VERSION"}},
        {"text of 64 for a word", 66, W(2), " 2", "$F", {"SHOW_MONITOR_LABEL", "SHOW_MONITOR_VALUE"}},
        {"text of 20 for a word", 22, W(2), " 2", "$F", {"SHOW_NUCLIDE_DESC", "SHOW_SPECTRUM_ID"}},
        {"text of 126 for a text", 128, T("AB"), " \"AB\"", "$F", {"SHOW_DATA_APPLICATION", "SHOW_DETECTOR_CMD"}},
    };
    const std::map<std::string, std::string> kLabels = {
        {"SHOW_NUCLIDE_COEF", "NUCLIDE_COEF "}, {"SHOW_MDA", "MDA "}, {"SHOW_MDA_PRESET", "MDA_PRES "},
        {"SHOW_UNCERT_PRESET", "UNCE_PRES "}, {"SHOW_UNCERT", "UNCE "}, {"SHOW_SHUTDOWN_TEMPERATURE", "SHUT_TEMP "},
        {"SHOW_DETECTOR_TEMPERATURE", "SHUT_TEMP "},
    };
    TavoRig rig("tavo");
    for (const Shape& shape : shapes) {
        for (const char* pszLine : shape.lines) {
            SCOPED_TRACE(std::string(shape.pszName) + ": " + pszLine);
            rig.Mark();
            const Result r = rig.Exec(std::string(pszLine) + shape.pszArgs);
            const Texts frames = Frames(rig.Sent());
            ASSERT_EQ(frames.size(), 1u);
            const std::string sExpected = "/" + std::to_string(shape.nReply) + (shape.sParams.empty() ? "" : " ") +
                                          shape.sParams;
            EXPECT_EQ(frames[0].substr(frames[0].find('/')), sExpected);
            EXPECT_TRUE(r.bOk);
            const auto label = kLabels.find(pszLine);
            const std::string sRecord = label != kLabels.end() ? label->second : shape.pszRecord;
            EXPECT_TRUE(StartsWith(r.sResp, sRecord) && (sRecord.empty() == r.sResp.empty())) << r.sResp;
        }
    }
}


struct LineCase {
    const char* pszName;
    Texts setup;
    Texts lines;   // the last one's result is checked, with a buffer of nSize
    Texts frames;  // every frame of the lines
    Result result;
    int32_t nSize = 256;
};

template <class Driver = TAVOCI>
void RunLineCases(const char* pszFamily, const LineCase* pCases, size_t nCases) {
    for (size_t i = 0; i < nCases; ++i) {
        const LineCase& c = pCases[i];
        SCOPED_TRACE(c.pszName);
        MmcmdRig<Driver> rig(pszFamily);
        rig.Steps(c.setup);
        rig.Mark();
        Result r;
        for (size_t n = 0; n < c.lines.size(); ++n) r = rig.Exec(c.lines[n], n + 1 == c.lines.size() ? c.nSize : 256);
        EXPECT_EQ(Frames(rig.Sent()), c.frames);
        ExpectResult(r, c.result);
    }
}

Result Warned(const std::string& sRecord = "") { return {true, sRecord, 0, 64}; }
Result Failed(int32_t nMac, int32_t nMic) { return {false, "", nMac, nMic}; }
Result Listed(const std::string& sText, int32_t nLen = -1) { return {true, sText, 0, 0, nLen}; }

TEST(MmcmdCommands, CommandsWithLogicOfTheirOwn) {
    const LineCase cases[] = {
        {"gate by number", {}, {"SET_GATE 2"}, {"241/2"}, kDone},
        {"gate beyond 3 is off", {}, {"SET_GATE 7"}, {"239/2"}, kDone},
        {"mode clears first", {}, {"SET_MODE_SAMPLE"}, {"3/2", "68/2"}, kDone},
        {"mode's own refusal counts", {"error 66 131 133"}, {"SET_MODE_PHA"}, {"3/2", "66/2"}, {true, "", 131, 133}},
        {"device: window over the gain", {"reg 112 2048"}, {"SET_DEVICE 1", "SHOW_WINDOW"}, {"112/6"},
         Shown(Record(FormatD, 0, 2048))},
        {"window at the end", {}, {"SET_WINDOW 32000,768", "SHOW_WINDOW"}, {}, Shown(Record(FormatD, 32000, 768))},
        {"window past the end", {}, {"SET_WINDOW 32001,768"}, {}, Failed(131, 129)},
        {"window without length", {}, {"SET_WINDOW 5,0"}, {}, Failed(131, 129)},
        {"window with one argument", {}, {"SET_WINDOW 5"}, {}, Failed(131, 132)},
        {"data over the window", {}, {"SET_WINDOW 10,20", "SET_DATA 100"}, {"43/2 " + W(10) + W(20) + W(100)}, kDone},
        {"data at a range", {}, {"SET_DATA 5,6,7"}, {"43/2 " + W(5) + W(6) + W(7)}, kDone},
        {"data from channel 32768", {}, {"SET_DATA 32768,1,7"}, {}, Failed(131, 128)},
        {"data past the end", {}, {"SET_DATA 32767,2,7"}, {}, Failed(131, 129)},
        {"data with two arguments", {}, {"SET_DATA 5,6"}, {}, Failed(131, 132)},
        {"roi cleared in the window", {}, {"SET_WINDOW 10,20", "CLEAR_ROI"}, {"7/2 " + W(10) + W(20)}, kDone},
        {"roi cleared at a range", {}, {"CLEAR_ROI 3,4"}, {"7/2 " + W(3) + W(4)}, kDone},
        {"integral over the gain", {"reg 112 4096", "set-counts 4000 70 7"}, {"SHOW_INTEGRAL"},
         {"112/6", "121/6 " + W(0) + W(4096)}, Shown(Record(FormatG, 77))},
        {"peak channel over a range", {"set-counts 14 5 9 3"}, {"SHOW_PEAK_CHANNEL 10,20"},
         {"135/6 " + W(10) + W(20)}, Shown(Record(FormatC, 15))},
        {"peak with one argument", {}, {"SHOW_PEAK 10"}, {}, Failed(131, 132)},
        {"text setting done whatever the reply", {"fault +1 short 1"}, {"SET_SNUM \"ABC\""},
         {"79/2 " + T("ABC")}, {true, "", 131, 137}},
        {"no action", {}, {"WRITE"}, {}, Failed(131, 133)},
        {"answered without the instrument", {},
         {"COMPUTER", "DISABLE_REMOTE", "DISABLE_TRIGGER_SPECIAL", "ENABLE_REMOTE", "ENABLE_TRIGGER_SPECIAL",
          "RESET_REMOTE", "SET_DISPLAY 3", "SET_RADIX_BINARY", "SET_SHAPING_CUSP 2", "TERMINAL"},
         {}, kDone},
        {"device", {}, {"SHOW_DEVICE"}, {}, Listed("$A001246\n"), 10},
        {"device in too small a buffer", {}, {"SHOW_SEGMENT"}, {}, Failed(131, 134), 9},
        {"rate", {}, {"SHOW_RATE_ZDT"}, {}, Shown(Record(FormatA, 0))},
        {"remote", {}, {"SHOW_REMOTE"}, {}, Shown(Record(FormatI, false))},
        {"radix", {}, {"SHOW_RADIX"}, {}, Shown(Record(FormatF, "BIN"))},
        {"mask", {}, {"SHOW_CONFIGURATION_MASK"}, {}, Shown(Record(FormatListUU, "CONF_MASK", 2147483647u, 2147483648u))},
        {"features", {}, {"SHOW_FEATURES"}, {},
         Shown(Record(FormatListUUUU, "FEATURES", 2268723519u, 1084117004u, 2208306448u, 0u))},
        {"record too long for the buffer", {"request 62 5"}, {"SHOW_LIVE"}, {"125/6"}, Failed(0, 0), 8},
    };
    RunLineCases("tavo", cases, sizeof cases / sizeof cases[0]);
}

TEST(MmcmdCommands, PelluxDiffersInItsFeatureWords) {
    const LineCase cases[] = {
        {"features", {}, {"SHOW_FEATURES"}, {},
         Shown(Record(FormatListUUUU, "FEATURES", 2268723519u, 1084117005u, 530584848u, 0u))},
    };
    RunLineCases<PELLUXCI>("pellux", cases, sizeof cases / sizeof cases[0]);
}

TEST(MmcmdSettings, ConvertedValuesRoundToTheStepAndWarnWhenAdjusted) {
    const LineCase cases[] = {
        {"flattop exact", {}, {"SET_SHAPING_FLATTOP 1.0"}, {"74/2 " + W(10)}, kDone},
        {"flattop rounded", {}, {"SET_SHAPING_FLATTOP 1.04"}, {"74/2 " + W(10)}, Warned()},
        {"flattop above", {}, {"SET_SHAPING_FLATTOP 5"}, {"74/2 " + W(24)}, Warned()},
        {"flattop below", {}, {"SET_SHAPING_FLATTOP 0.1"}, {"74/2 " + W(3)}, Warned()},
        {"risetime tie goes up", {}, {"SET_SHAPING_RISETIME 1.1"}, {"75/2 " + W(6)}, Warned()},
        {"correction middle", {}, {"SET_CORRECTION_FLATTOP 0"}, {"41/2 " + W(128)}, kDone},
        {"correction bottom", {}, {"SET_CORRECTION_ALL -1"}, {"40/2 " + W(0)}, kDone},
        {"collection", {}, {"SET_DELAY_COLLECTION 0.25"}, {"48/2 " + W(0)}, kDone},
        {"fine gain", {}, {"SET_GAIN_FINE 0.5"}, {"54/2 " + W(98304)}, kDone},
        {"blrestore 10", {}, {"SET_BLRESTORE 10"}, {"39/2 " + W(20)}, kDone},
        {"blrestore 100", {}, {"SET_BLRESTORE 100"}, {"39/2 " + W(2)}, kDone},
        {"threshold fraction", {}, {"SET_THRESHOLD_SAMPLE 0.5"}, {"82/2 " + W(4194304)}, kDone},
        {"threshold fraction, sign not sent", {}, {"SET_THRESHOLD_SAMPLE -0.5"}, {"82/2 " + W(4194304)}, kDone},
        {"threshold whole", {}, {"SET_THRESHOLD_SAMPLE -1"}, {"82/2 " + W(0xFFFFFFFFu)}, kDone},
        {"threshold whole rounded", {}, {"SET_THRESHOLD_SAMPLE 2.5"}, {"82/2 " + W(3)}, Warned()},
        {"instrument's pair wins over the warning", {"error 74 131 133"}, {"SET_SHAPING_FLATTOP 1.04"},
         {"74/2 " + W(10)}, {true, "", 131, 133}},
        {"correction shown", {"reg 100 128"}, {"SHOW_CORRECTION_FLATTOP"}, {"100/6"},
         Shown(Record(FormatListG, "CORR_FLAT", 1.0))},
        {"blrestore shown", {"reg 96 20"}, {"SHOW_BLRESTORE"}, {"96/6"}, Shown(Record(FormatListG, "BLRE", 10.0))},
        {"blrestore without a finite value", {"reg 96 0"}, {"SHOW_BLRESTORE"}, {"96/6"},
         Shown(Record(FormatListG, "BLRE", 0.0))},
        {"collection shown", {"reg 107 3"}, {"SHOW_DELAY_COLLECTION"}, {"107/6"},
         Shown(Record(FormatListG, "DEL_COLL", 0.15))},
        {"fine gain shown", {"reg 113 98304"}, {"SHOW_GAIN_FINE"}, {"113/6"},
         Shown(Record(FormatListG, "GAIN_FINE", 0.5))},
        {"flattop shown", {"reg 142 10"}, {"SHOW_SHAPING_FLATTOP"}, {"142/6"},
         Shown(Record(FormatListG, "SHAP_FLAT", 1.0))},
        {"risetime shown", {"reg 143 6"}, {"SHOW_SHAPING_RISETIME"}, {"143/6"},
         Shown(Record(FormatListG, "SHAP_RISE", 1.2))},
        {"cusp, no exchange", {}, {"SHOW_SHAPING_CUSP"}, {}, Shown(Record(FormatListG, "SHAP_CUSP", 1.0))},
        {"verify flattop", {}, {"VERIFY_SHAPING_FLATTOP 1.0,2"}, {}, Shown(Record(FormatListG, "SHAP_FLAT", 1.2))},
        {"verify risetime", {}, {"VERIFY_SHAPING_RISETIME 1.0,1"}, {}, Shown(Record(FormatListG, "SHAP_RISE", 1.1))},
        {"verify correction", {}, {"VERIFY_CORRECTION_FLATTOP 0,-1"}, {},
         Shown(Record(FormatListG, "CORR_FLAT", -0.0078125))},
    };
    RunLineCases("tavo", cases, sizeof cases / sizeof cases[0]);
}

TEST(MmcmdSettings, ListingsLabelsAndLabelledNumbers) {
    const std::string kGate = "GATE Off Coincidence Anticoincidence Inhibit\n";
    const LineCase cases[] = {
        {"list one byte short", {}, {"LIST_BLRESTORE"}, {}, Failed(131, 134), 23},
        {"list that fits", {}, {"LIST_BLRESTORE"}, {}, Listed("BLRE 10.0 100.0 10 100\n"), 24},
        {"fine gain list", {}, {"LIST_GAIN_FINE"}, {}, Listed("GAIN_FINE 0.00 1.0 0 196607\n"), 33},
        {"gate list short: served", {}, {"LIST_GATE"}, {}, {true, "", 131, 134}, 45},
        {"gate list sets its length", {}, {"LIST_GATE"}, {}, Listed(kGate, 46), 46},
        {"conversion list, special gain", {"reg 246 1"}, {"LIST_GAIN_CONVERSION"}, {"246/6"},
         Listed("GAIN_CONV 512 1024 2048 4096 8192 16384 32768\n")},
        {"conversion list", {"reg 246 0"}, {"LIST_GAIN_CONVERSION"}, {"246/6"},
         Listed("GAIN_CONV 512 1024 2048 4096 8192 16384\n")},
        {"conversion list, long text, buffer of 41", {"reg 246 1"}, {"LIST_GAIN_CONVERSION"}, {"246/6"},
         Failed(131, 134), 41},
        {"hv list of a NaI probe", {"reg 262 1"}, {"LIST_HV"}, {"262/6"}, Listed("HV 0 1500 0 1500\n")},
        {"hv list", {"reg 262 0"}, {"LIST_HV"}, {"262/6"}, Listed("HV 0 5000 0 5000\n")},
        {"shutdown list from the instrument", {"text 916 TTL KELDA"}, {"LIST_SHUTDOWN"}, {"916/34"},
         Listed("TTL KELDA")},
        {"polarity", {"reg 114 0"}, {"SHOW_GAIN_POLARITY"}, {"114/6"}, Shown(Record(FormatF, "NEG"))},
        {"hv polarity", {"reg 209 5"}, {"SHOW_HV_POLARITY"}, {"209/6"}, Shown(Record(FormatF, "POS"))},
        {"mode", {"reg 131 1"}, {"SHOW_MODE"}, {"131/6"}, Shown(Record(FormatF, "SAM"))},
        {"mode unknown", {"reg 131 7"}, {"SHOW_MODE"}, {"131/6"}, Shown(Record(FormatF, "BAD"))},
        {"shutdown smart", {"reg 144 2"}, {"SHOW_SHUTDOWN"}, {"144/6"}, Shown(Record(FormatF, "2SMA"))},
        {"shutdown unknown: no answer", {"reg 144 3"}, {"SHOW_SHUTDOWN"}, {"144/6"}, Failed(0, 0)},
        {"trigger unknown", {"reg 186 9"}, {"SHOW_TRIGGER_SAMPLE"}, {"186/6"}, Shown(Record(FormatF, "????"))},
        {"gate", {"text 242 COI"}, {"SHOW_GATE"}, {"242/34"}, Shown(Record(FormatF, "1COI"))},
        {"gate in lower case", {"text 242 coi"}, {"SHOW_GATE"}, {"242/34"}, Shown(Record(FormatF, "0OFF"))},
        {"count rate", {"reg 102 4294967295"}, {"SHOW_CRM"}, {"102/6"}, Shown(Record(FormatListD, "CRM", -1))},
        {"pole zero on", {"reg 137 1 1234"}, {"SHOW_PZADJUST"}, {"137/10"}, Shown(Record(FormatListD6, "PZ_ENA", 1234))},
        {"threshold off", {"reg 151 0 5"}, {"SHOW_THRESHOLD_SAMPLE"}, {"151/10"},
         Shown(Record(FormatListD, "THR_DIS", 5))},
        {"alignment manual", {"reg 257 1 7"}, {"SHOW_PEAK_ALIGNMENT"}, {"257/10"},
         Shown(Record(FormatListD, "PEAK_ALIGN_MAN", 7))},
    };
    RunLineCases("tavo", cases, sizeof cases / sizeof cases[0]);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
