// Identification of an MCB from its driver's answers, and the values an
// instrument keeps itself, through a driver whose every answer a case
// scripts. The port is a real pty; the add-in runs in this process.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "addin/driver_factory.h"
#include "addin/guess.h"
#include "addin/linkbay.h"
#include "cmdlang/records.h"
#include "platform/test_hooks.h"
#include "serial/rs232ci.h"
#include "support/pty_peer.h"
#include "support/record_text.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

using Lines = std::vector<std::string>;

// The answer to sLine for detector nDet (0: any detector).
struct Reply {
    int32_t nDet;
    std::string sLine;
    bool bServed;
    std::string sResponse;
    int32_t nMac;
    int32_t nMic;
    bool bUnterminated = false;  // the last character repeats to the buffer's end, no NUL
};
// The first matching reply wins: exceptions go before the common answers.
using Script = std::vector<Reply>;

Script operator+(Script first, const Script& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// What the instrument of the running case answers, and what it was asked
// ("1 SHOW_VERS": detector and line).
struct Instrument {
    Script script;
    Lines asked;
};
Instrument g_instrument;

constexpr CommandSet kNoCommands{};

// Answers from the script whatever the detector; takes any port handle.
class ScriptedDriver : public RS232CI {
public:
    explicit ScriptedDriver(int32_t nMcb) : RS232CI(kNoCommands, nMcb) {}

    void Attach(HANDLE hPort) override { m_hPort = hPort; }
    bool IsUnitPresent(int32_t) override { return true; }
    bool IsActive(int32_t, int32_t*) override { return false; }
    bool ExecLine(int32_t nDet, const char* pszLine, int32_t nRespSize, char* pszResp, int32_t* pnRespLen,
                  int32_t* pnMac, int32_t* pnMic) override {
        g_instrument.asked.push_back(std::to_string(nDet) + " " + pszLine);
        Reply reply{0, pszLine, true, "", 129, 1};  // what the parser says to an unknown verb
        for (const Reply& candidate : g_instrument.script) {
            if ((candidate.nDet == 0 || candidate.nDet == nDet) && candidate.sLine == pszLine) {
                reply = candidate;
                break;
            }
        }
        const std::string sText = reply.sResponse.substr(0, nRespSize > 0 ? nRespSize - 1 : 0);
        if (pszResp != nullptr && nRespSize > 0) {
            memcpy(pszResp, sText.c_str(), sText.size() + 1);
            if (reply.bUnterminated && !sText.empty())
                memset(pszResp + sText.size(), sText.back(), static_cast<size_t>(nRespSize) - sText.size());
        }
        Store(pnRespLen, static_cast<int32_t>(sText.size()));
        Store(pnMac, reply.nMac);
        Store(pnMic, reply.nMic);
        return reply.bServed;
    }
    int32_t ReadData(int32_t, int32_t, int32_t, int32_t, uint32_t*) override { return -1; }
    int32_t WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) override { return -1; }

protected:
    bool ExecCmd(ParsedCommand&, int32_t, char*, int32_t*, int32_t*, int32_t*) override { return false; }
};

// MCB 97 on a pty, its driver the scripted one. The clock stands still, so
// only the interrogation a case asks for runs; level-1 messages are kept.
class ScriptedMcb {
public:
    ScriptedMcb() {
        std::ofstream(m_sDir + "/DETHUB.INI", std::ios::binary) << "[CONFIG]\r\nCOM1=korv\r\n";
        m_peer.bindToPort(1);
        SetDriverFactoryForTesting([](int32_t, int32_t nMcb) -> RS232CI* { return new ScriptedDriver(nMcb); });
        platform::SetTickSource([](void*) -> DWORD { return 5000000u; }, nullptr);
        platform::SetDebugCapture(
            [](const char* pszText, void* pContext) { static_cast<Lines*>(pContext)->push_back(pszText); },
            &m_messages);
        m_nOldLevel = m_addin.SetDebugLevel(1);
    }
    ~ScriptedMcb() {
        m_addin.CloseDetectors(0);
        m_addin.SetDebugLevel(m_nOldLevel);
        platform::SetDebugCapture(nullptr, nullptr);
        platform::SetTickSource(nullptr, nullptr);
        SetDriverFactoryForTesting(nullptr);
    }
    ScriptedMcb(const ScriptedMcb&) = delete;
    ScriptedMcb& operator=(const ScriptedMcb&) = delete;

    bool ready() const { return m_peer.ok(); }
    // A fresh configuration and interrogation of MCB 97 against the script.
    void identify(const Script& script) {
        m_addin.CloseDetectors(0);
        g_instrument = Instrument{script, {}};
        m_messages.clear();
        m_addin.ReadConfiguration();
        m_addin.InterrogateMCB(97);
    }
    // Further answers for the identified instrument; forgets what it was asked.
    void answer(const Script& script) {
        g_instrument = Instrument{script, {}};
        m_messages.clear();
    }
    Linkbay& addin() { return m_addin; }
    McbEntry& entry() { return m_addin.m_pMcbTable[0]; }
    const Lines& messages() const { return m_messages; }

private:
    std::string m_sDir = UseFreshEnvironment();  // before the add-in maps its shared area
    PtyPeer m_peer;
    Linkbay m_addin;
    Lines m_messages;
    int32_t m_nOldLevel = 0;
};

size_t CountOf(const Lines& lines, const std::string& sPart) {
    size_t n = 0;
    for (const std::string& sLine : lines) n += sLine.find(sPart) != std::string::npos ? 1 : 0;
    return n;
}

Reply Answer(const std::string& sLine, const std::string& sResponse, int32_t nDet = 0) {
    return Reply{nDet, sLine, true, sResponse, 0, 0};
}
Reply Refusal(const std::string& sLine, int32_t nMac, int32_t nMic, int32_t nDet = 0) {
    return Reply{nDet, sLine, true, "", nMac, nMic};
}
Reply Unterminated(const std::string& sLine, const std::string& sResponse) {
    return Reply{0, sLine, true, sResponse, 0, 0, true};
}

// "$J", five digits of channels, five of detectors, zeros, a line feed: nLength characters.
std::string ConfRecord(unsigned nChannels, unsigned nDetectors, size_t nLength, const char* pszKind = "$J") {
    char szHead[16];
    snprintf(szHead, sizeof szHead, "%s%05u%05u", pszKind, nChannels, nDetectors);
    std::string s = szHead;
    s.resize(nLength - 1, '0');
    return s + "\n";
}
std::string FeatureWords(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return Record(FormatListUUUU, "FEATURES", a, b, c, d);
}
Reply Features(uint32_t a, uint32_t b, uint32_t c, uint32_t d, int32_t nDet = 0) {
    return Answer("SHOW_FEAT", FeatureWords(a, b, c, d), nDet);
}
Reply Masks(uint32_t dwMask1, uint32_t dwMask2, int32_t nDet = 0) {
    return Answer("SHOW_CONF_MASK", Record(FormatListUU, "CONF_MASK", dwMask1, dwMask2), nDet);
}
Reply Conf(unsigned nChannels, unsigned nDetectors, size_t nLength = 96) {
    return Answer("SHOW_CONF", ConfRecord(nChannels, nDetectors, nLength));
}

// One detector of a one-detector instrument that answers everything.
const Script kInstrument = {Answer("SHOW_VERS", "$FABCD-123\n"), Conf(4096, 1), Features(1, 2, 3, 4),
                            Masks(5, 6)};

// What identification should leave for one detector: feature words from
// word 0 on and masks as the instrument answered them (empty: guessed), of
// detector nSource (detector 1 for a copy).
struct DetectorShape {
    uint16_t wChannels;
    std::vector<uint32_t> answeredWords;
    std::vector<uint32_t> answeredMasks;
    int32_t nSource;
};

struct IdentificationCase {
    const char* pszName;
    Script script;
    const char* pszVersion;  // null: the identification fails
    uint16_t wTotalChannels;
    std::vector<DetectorShape> detectors;
    Lines asked;
};

// Detectors with kInstrument's features and masks, and the same ones guessed.
std::vector<DetectorShape> Answered(size_t nCount, uint16_t wChannels) {
    return std::vector<DetectorShape>(nCount, DetectorShape{wChannels, {1, 2, 3, 4}, {5, 6}, 1});
}
const std::vector<DetectorShape> kGuessed4096 = {{4096, {}, {}, 1}};
const std::vector<DetectorShape> kMasksGuessed4096 = {{4096, {1, 2, 3, 4}, {}, 1}};
Script Then(const Reply& reply) { return Script{reply} + kInstrument; }

const Lines kAskedAll = {"1 SHOW_VERS", "1 SHOW_CONF", "1 SHOW_FEAT", "1 SHOW_CONF_MASK"};
const Lines kAskedExtended = {"1 SHOW_VERS", "1 SHOW_CONF", "1 SHOW_FEAT", "1 SHOW_FEAT_EXTE", "1 SHOW_CONF_MASK"};
const Lines kAskedUpToFeatures = {"1 SHOW_VERS", "1 SHOW_CONF", "1 SHOW_FEAT"};
const Lines kAskedVersion = {"1 SHOW_VERS"};
const char kVersion[] = "ABCD-123";

const IdentificationCase kIdentificationCases[] = {
    {"Version10Characters", Then(Answer("SHOW_VERS", "$FABCD-123")), kVersion, 4096, Answered(1, 4096), kAskedAll},
    // Twelve characters, the most: KORV's own (Detector.OpenIdentifies..., the host's list).
    {"Version9Characters", Then(Answer("SHOW_VERS", "$FABCD-12")), nullptr, 0, {}, kAskedVersion},
    {"Version13Characters", Then(Answer("SHOW_VERS", "$FABCD-12300\n")), nullptr, 0, {}, kAskedVersion},
    {"VersionInACRecord", Then(Answer("SHOW_VERS", "$CABCD-1230\n")), nullptr, 0, {}, kAskedVersion},
    {"VersionNotServed", Then({0, "SHOW_VERS", false, "$FABCD-123\n", -1, 0}), nullptr, 0, {}, kAskedVersion},
    {"FourInputVersionAsksNoConfiguration", Then(Answer("SHOW_VERS", "$F0746-001\n")), "0746-001", 16384,
     Answered(4, 16384), {"1 SHOW_VERS", "1 SHOW_FEAT", "1 SHOW_CONF_MASK"}},
    {"Configuration94Characters", Then(Conf(1024, 2, 94)), kVersion, 16384, Answered(1, 16384), kAskedAll},
    {"Configuration95Characters", Then(Conf(1024, 2, 95)), kVersion, 1024, Answered(2, 512), kAskedAll},
    {"Configuration97Characters", Then(Conf(1024, 2, 97)), kVersion, 1024, Answered(2, 512), kAskedAll},
    {"Configuration98Characters", Then(Conf(1024, 2, 98)), kVersion, 16384, Answered(1, 16384), kAskedAll},
    {"ConfigurationInACRecord", Then(Answer("SHOW_CONF", ConfRecord(1024, 2, 96, "$C"))), kVersion, 16384,
     Answered(1, 16384), kAskedAll},
    {"NoDetectorsMeansOne", Then(Conf(4096, 0)), kVersion, 4096, Answered(1, 4096), kAskedAll},
    {"ThirtyThreeDetectorsMeansOne", Then(Conf(4096, 33)), kVersion, 4096, Answered(1, 4096), kAskedAll},
    {"Total255ChannelsMeans16384", Then(Conf(255, 1)), kVersion, 16384, Answered(1, 16384), kAskedAll},
    {"Total256ChannelsOnThreeDetectors", Then(Conf(256, 3)), kVersion, 256, Answered(3, 85), kAskedAll},
    {"TotalKeptIn16Bits", Then(Conf(70000, 2)), kVersion, 4464, Answered(2, 2232), kAskedAll},
    // Every driver of the library refuses the modifier as unknown.
    {"ExtendedFeaturesRefusedKeepTheGuesses",
     Script{Features(1, 2, 3, 0x80000004u), Refusal("SHOW_FEAT_EXTE", 129, 4)} + kInstrument, kVersion, 4096,
     {{4096, {1, 2, 3, 0x80000004u}, {5, 6}, 1}}, kAskedExtended},
    {"ExtendedFeaturesNotServed",
     Script{Features(1, 2, 3, 0x80000004u),
            {0, "SHOW_FEAT_EXTE", false, FeatureWords(9, 10, 11, 12), 129, 4}} + kInstrument,
     kVersion, 4096, {{4096, {1, 2, 3, 0x80000004u}, {5, 6}, 1}}, kAskedExtended},
    {"ExtendedFeaturesAnswered",
     Script{Features(1, 2, 3, 0x80000004u), Answer("SHOW_FEAT_EXTE", FeatureWords(9, 10, 11, 12))} +
         kInstrument,
     kVersion, 4096, {{4096, {1, 2, 3, 0x80000004u, 9, 10, 11, 12}, {5, 6}, 1}}, kAskedExtended},
    {"FeaturesRefusedSkipMasks", Then(Refusal("SHOW_FEAT", 129, 1)), kVersion, 4096, kGuessed4096,
     kAskedUpToFeatures},
    {"Features10Characters", Then(Answer("SHOW_FEAT", "FEAT 1 2 3")), kVersion, 4096, kGuessed4096,
     kAskedUpToFeatures},
    {"FeaturesWithoutBlank", Then(Answer("SHOW_FEAT", "FEATURES:00000000001:00000000002\n")), kVersion, 4096,
     kGuessed4096, kAskedUpToFeatures},
    {"MasksEndWhereTheLengthSays", Then(Unterminated("SHOW_CONF_MASK", "CONF_MASK 00000000005 00000000006")),
     kVersion, 4096, {{4096, {1, 2, 3, 4}, {5, 6}, 1}}, kAskedAll},
    {"MasksAfterATab", Then(Answer("SHOW_CONF_MASK", "COxyzMAS\t17 8")), kVersion, 4096,
     {{4096, {1, 2, 3, 4}, {17, 8}, 1}}, kAskedAll},
    {"Masks12Characters", Then(Answer("SHOW_CONF_MASK", "CONF_MASK 56")), kVersion, 4096, kMasksGuessed4096,
     kAskedAll},
    {"MasksWithoutMas", Then(Answer("SHOW_CONF_MASK", Record(FormatListUU, "CONF_MAXK", 5, 6))), kVersion, 4096,
     kMasksGuessed4096, kAskedAll},
    {"MasksWithoutBlank", Then(Answer("SHOW_CONF_MASK", "CONF_MASK_00000000005_00000000006\n")), kVersion, 4096,
     kMasksGuessed4096, kAskedAll},
    {"DetectorsCopyDetector1WithoutAsking", Script{Conf(3000, 3), Features(7, 7, 7, 7, 2)} + kInstrument,
     kVersion, 3000, Answered(3, 1000), kAskedAll},
    {"DetectorsWithOwnFeaturesAreEachAsked",
     Script{Conf(3000, 3), Features(2, 0, 0, 0, 2), Refusal("SHOW_CONF_MASK", 129, 1, 3),
            Features(1, 8192, 3, 4)} + kInstrument,
     kVersion, 3000,
     {{1000, {1, 8192, 3, 4}, {5, 6}, 1}, {1000, {2, 0, 0, 0}, {5, 6}, 2}, {1000, {1, 8192, 3, 4}, {}, 3}},
     {"1 SHOW_VERS", "1 SHOW_CONF", "1 SHOW_FEAT", "1 SHOW_CONF_MASK", "2 SHOW_FEAT", "2 SHOW_CONF_MASK",
      "3 SHOW_FEAT", "3 SHOW_CONF_MASK"}},
};

void ExpectDetector(ScriptedMcb& mcb, const char* pszVersion, int32_t nDet, const DetectorShape& shape) {
    SCOPED_TRACE("detector " + std::to_string(nDet));
    std::array<uint32_t, LINKBAY_FEATURE_WORDS> expected{};
    LocalGuessFeatures(pszVersion, shape.nSource, expected.data(), LINKBAY_FEATURE_WORDS);
    for (size_t k = 0; k < shape.answeredWords.size(); ++k) expected[k] = shape.answeredWords[k];
    uint32_t dwMasks[2] = {};
    LocalGuessMasks(pszVersion, shape.nSource, &dwMasks[0], &dwMasks[1]);
    for (size_t k = 0; k < shape.answeredMasks.size(); ++k) dwMasks[k] = shape.answeredMasks[k];

    EXPECT_EQ(mcb.addin().GetChannels(97, nDet), shape.wChannels);
    std::array<uint32_t, LINKBAY_FEATURE_WORDS> words{};
    ASSERT_TRUE(mcb.addin().GetFeatures(97, nDet, words.data(), LINKBAY_FEATURE_WORDS));
    EXPECT_EQ(words, expected);
    EXPECT_EQ(mcb.entry().dwConfMask1[nDet - 1], dwMasks[0]);
    EXPECT_EQ(mcb.entry().dwConfMask2[nDet - 1], dwMasks[1]);
}

TEST(AddinIdentification, AnswersGiveTheMcbItsShape) {
    ScriptedMcb mcb;
    ASSERT_TRUE(mcb.ready());
    for (const IdentificationCase& c : kIdentificationCases) {
        SCOPED_TRACE(c.pszName);
        mcb.identify(c.script);
        EXPECT_EQ(g_instrument.asked, c.asked);
        const int32_t nInputs = static_cast<int32_t>(c.detectors.size());
        EXPECT_EQ(mcb.addin().GetInputCount(97), nInputs);
        EXPECT_EQ(mcb.entry().nInputs, nInputs);
        EXPECT_EQ(mcb.entry().wTotalChannels, c.wTotalChannels);
        char szVersion[16] = "";
        EXPECT_EQ(mcb.addin().GetVersion(97, szVersion, sizeof szVersion), c.pszVersion != nullptr);
        if (c.pszVersion == nullptr) {
            EXPECT_STREQ(mcb.entry().szVersion, "0000-000");
            EXPECT_EQ(mcb.addin().GetChannels(97, 1), 0);
            EXPECT_EQ(CountOf(mcb.messages(), " dets, "), 0u);
            continue;
        }
        EXPECT_STREQ(szVersion, c.pszVersion);
        EXPECT_EQ(mcb.entry().bFourInput, strncmp(c.pszVersion, "0746", 4) == 0 ? 1 : 0);
        char szMessage[128];
        snprintf(szMessage, sizeof szMessage, "MCB 97 has %d dets, %u total channels and %u chans per dev/seg\r\n",
                 nInputs, c.wTotalChannels, c.detectors[0].wChannels);
        EXPECT_EQ(CountOf(mcb.messages(), szMessage), 1u) << szMessage;
        for (int32_t d = 1; d <= nInputs; ++d) ExpectDetector(mcb, c.pszVersion, d, c.detectors[d - 1]);
    }
}

Reply NotServed(const std::string& sLine, int32_t nMac) { return Reply{0, sLine, false, "", nMac, 0}; }

// What detector 1 is asked when every scripted line is asked once, in order.
Lines AskedFor(const Script& script) {
    Lines asked;
    for (const Reply& reply : script) asked.push_back("1 " + reply.sLine);
    return asked;
}

// The ROI shortcuts against every outcome of their lines: served, served
// with an error pair, not served at all. Each scripted line is asked.
TEST(AddinRoiShortcuts, ResultCodesPairsAndMessages) {
    const std::string kWindow = "SET_WIND 10, 20";
    const std::string kFailed = "Linkbay::ClearROI(): Dialog(97,1 \"";
    struct Case {
        const char* pszName;
        bool bClear;
        Script script;
        int32_t nResult;
        int32_t nMac;
        int32_t nMic;
        std::string sMessage;  // the level-0 report, or empty
    };
    const Case kCases[] = {
        {"set", false, {Answer("SET_ROI 10, 20", "")}, 1, 0, 0, ""},
        {"set, instrument error", false, {Refusal("SET_ROI 10, 20", 4, 7)}, -6, 4, 7, ""},
        {"set, not served", false, {NotServed("SET_ROI 10, 20", -3)}, -3, 0, 0, ""},
        {"clear", true, {Answer(kWindow, ""), Answer("CLEAR_ROI", "")}, 1, 0, 0, ""},
        {"clear, window not served", true, {NotServed(kWindow, -3)}, -3, -3, 0,
         kFailed + kWindow + "\") failed! LocalErr=-3\r\n"},
        {"clear, window error", true, {Refusal(kWindow, 131, 129)}, -6, 131, 129, ""},
        {"clear, clearing not served", true, {Answer(kWindow, ""), NotServed("CLEAR_ROI", -1)}, -1, -1, 0,
         kFailed + "CLEAR_ROI\") failed! LocalErr=-1\r\n"},
        {"clear, clearing error", true, {Answer(kWindow, ""), Refusal("CLEAR_ROI", 5, 6)}, -6, 5, 6, ""},
    };
    ScriptedMcb mcb;
    ASSERT_TRUE(mcb.ready());
    mcb.identify(kInstrument);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        mcb.answer(c.script);
        int32_t nMac = 99, nMic = 99;
        const int32_t nResult = c.bClear ? mcb.addin().ClearROI(97, 1, 10, 20, 0, &nMac, &nMic)
                                         : mcb.addin().SetROI(97, 1, 10, 20, 0, &nMac, &nMic);
        EXPECT_EQ(nResult, c.nResult);
        EXPECT_EQ(nMac, c.nMac);
        EXPECT_EQ(nMic, c.nMic);
        EXPECT_EQ(g_instrument.asked, AskedFor(c.script));
        EXPECT_EQ(CountOf(mcb.messages(), "Linkbay::ClearROI()"), c.sMessage.empty() ? 0u : 1u);
        if (!c.sMessage.empty()) {
            EXPECT_EQ(CountOf(mcb.messages(), c.sMessage), 1u) << c.sMessage;
        }
    }
}

// Two detectors that keep their values themselves (feature word 0, bit 4).
const Script kKeepingInstrument = {Answer("SHOW_VERS", "$FABCD-123\n"), Conf(4096, 2), Features(16, 0, 0, 0),
                                   Masks(5, 6)};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// Each scripted line is asked once; a line too long is not sent at all.
struct DataAppCase {
    const char* pszName;
    bool bSet;                // SetDataApp, else GetDataApp
    std::string sKey;
    std::string sValue;       // the default of GetDataApp
    int32_t nSize;            // GetDataApp's buffer
    Script answers;
    int32_t nResult;          // length, or 1/0 for SetDataApp
    const char* pszText;      // what GetDataApp leaves in the buffer
};

const std::string kShowDesc = "SHOW_DATA_APP \"@DESC\"";
const std::string kKey31 = Repeat('k', 31);
const std::string kUnterminatedValue = "hello" + Repeat('o', 123);  // what fits the 131-byte answer
const std::string kSetLine175 = "SET_DATA_APP \"K\",\"" + Repeat('v', 156) + "\"";
const DataAppCase kDataAppCases[] = {
    {"ValueLosesItsLineEnd", false, "@DESC", "none", 32, {Answer(kShowDesc, "$Fhello\r\n")}, 5, "hello"},
    {"ValueCutToTheBuffer", false, "@DESC", "none", 4, {Answer(kShowDesc, "$Fhello\r\n")}, 3, "hel"},
    {"InstrumentErrorGivesTheDefault", false, "@DESC", "none", 32, {{0, kShowDesc, true, "$Fhello\n", -1, 0}}, 4,
     "none"},
    {"LineNotServedGivesTheDefault", false, "@DESC", "none", 32, {{0, kShowDesc, false, "$Fhello\n", 0, 0}}, 4,
     "none"},
    {"OtherRecordGivesTheDefault", false, "@DESC", "none", 32, {Answer(kShowDesc, "$C00005101\n")}, 4, "none"},
    {"DefaultCutToTheBuffer", false, "@DESC", "defaultvalue", 4, {Refusal(kShowDesc, -1, 0)}, 3, "def"},
    {"ValueNotTerminated", false, "@DESC", "none", 160, {Unterminated(kShowDesc, "$Fhello")}, 128,
     kUnterminatedValue.c_str()},
    {"Key31CharactersFillsTheLine", false, kKey31, "none", 32,
     {Answer("SHOW_DATA_APP \"" + kKey31 + "\"", "$Fx\n")}, 1, "x"},
    {"Key32CharactersIsNotSent", false, Repeat('k', 32), "none", 32, {}, 4, "none"},
    {"SetAccepted", true, "K", "V", 0, {Answer("SET_DATA_APP \"K\",\"V\"", "")}, 1, nullptr},
    {"SetRefused", true, "K", "V", 0, {Refusal("SET_DATA_APP \"K\",\"V\"", -1, 0)}, 0, nullptr},
    {"SetLineOf175Characters", true, "K", Repeat('v', 156), 0, {Answer(kSetLine175, "")}, 1, nullptr},
    {"SetLineOf176CharactersIsNotSent", true, "K", Repeat('v', 157), 0, {}, 0, nullptr},
};

TEST(AddinInstrumentValues, DataAppLinesAndAnswers) {
    ScriptedMcb mcb;
    ASSERT_TRUE(mcb.ready());
    mcb.identify(kKeepingInstrument);
    ASSERT_EQ(mcb.entry().nInputs, 2);
    for (const DataAppCase& c : kDataAppCases) {
        SCOPED_TRACE(c.pszName);
        mcb.answer(c.answers);
        if (c.bSet) {
            EXPECT_EQ(mcb.addin().SetDataApp(97, 1, c.sKey.c_str(), c.sValue.c_str()) ? 1 : 0, c.nResult);
        } else {
            char szBuffer[160];
            memset(szBuffer, '#', sizeof szBuffer);
            EXPECT_EQ(mcb.addin().GetDataApp(97, 1, c.sKey.c_str(), c.sValue.c_str(), szBuffer, c.nSize),
                      c.nResult);
            EXPECT_STREQ(szBuffer, c.pszText);
            EXPECT_EQ(std::string(szBuffer + c.nSize, sizeof szBuffer - c.nSize),
                      Repeat('#', sizeof szBuffer - c.nSize));
        }
        EXPECT_EQ(g_instrument.asked, AskedFor(c.answers));
    }
}

// Each detector is asked for its own values; a second input's defaults name
// it. An answered description and identifier read as the file's do
// (Detector.DescriptionAndIdentifierFallBackToDefaults).
TEST(AddinInstrumentValues, DescriptionAndIdentifierOfASecondInputFallBackToItsDefaults) {
    ScriptedMcb mcb;
    ASSERT_TRUE(mcb.ready());
    mcb.identify(kKeepingInstrument);
    mcb.answer({Answer("SHOW_DATA_APP \"@DESC\"", "$Fbench 4\n", 1), Answer("SHOW_DATA_APP \"@ID\"", "$F1234x\n", 1),
                Refusal("SHOW_DATA_APP \"@DESC\"", -1, 0, 2), Refusal("SHOW_DATA_APP \"@ID\"", -1, 0, 2)});
    char szDescription[32] = "";
    uint8_t bDescriptionDefault = 9, bIdDefault = 9;
    uint32_t dwId = 0;
    EXPECT_TRUE(mcb.addin().GetDescription(97, 2, szDescription, sizeof szDescription, &bDescriptionDefault));
    EXPECT_TRUE(mcb.addin().GetDetectorId(97, 2, &dwId, &bIdDefault));
    EXPECT_STREQ(szDescription, "MCB 97 Input 2");
    EXPECT_EQ(dwId, 9702u);
    EXPECT_EQ(bDescriptionDefault + bIdDefault, 2);
}

std::string NRecord(uint32_t a, uint32_t b, uint32_t c) { return Record(FormatN, a, b, c); }

constexpr int32_t kCachedStart = 4242;
constexpr int32_t kCurrentTime = -1;  // stands for the computer's current time

struct StartTimeCase {
    const char* pszName;
    Script answers;
    int32_t tStart;
    int32_t tNow;
    const char* pszMessage;  // a level-1 message that must be among those written
};

Script Clock(const std::string& sDate, const std::string& sTime, const std::string& sStartDate,
             const std::string& sStartTime) {
    return {Answer("SHOW_DATE", sDate), Answer("SHOW_TIME", sTime), Answer("SHOW_DATE_STAR", sStartDate),
            Answer("SHOW_TIME_STAR", sStartTime)};
}

// The answer is cut at its buffer's last byte: two of the three bytes filled in stay.
const std::string kDateNotTerminated = "Date: \"" + NRecord(15, 6, 99) + "\n\n\", Time:\"";

const StartTimeCase kStartTimeCases[] = {
    {"Year80Is1980", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(1, 1, 80), NRecord(0, 0, 0)),
     315532800, 929449845, "LocalGetStartTime(): Day 1, Month 0, Year 80, Hour 0, Min 0, Sec 0\r\n"},
    {"Year00Is2000", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(29, 2, 0), NRecord(23, 59, 59)),
     951868799, 929449845, "LocalGetStartTime(): Day 29, Month 1, Year 100, Hour 23, Min 59, Sec 59\r\n"},
    {"Year37Is2037", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(31, 12, 37), NRecord(23, 59, 59)),
     2145916799, 929449845, "Year 137,"},
    // 2079 does not fit the 32-bit seconds: the conversion fails.
    {"Year79Is2079", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(31, 12, 79), NRecord(0, 0, 0)),
     kCachedStart, kCurrentTime, "LocalGetStartTime(): Day 31, Month 11, Year 179, Hour 0, Min 0, Sec 0\r\n"},
    {"StartDateOfZeros", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(0, 0, 0), NRecord(1, 2, 3)),
     kCachedStart, kCurrentTime, "StartDate: \"$N000000000"},
    {"StartMonthZero", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(15, 0, 99), NRecord(1, 2, 3)),
     kCachedStart, kCurrentTime, "Day 15, Month -1, Year 99"},
    {"StartNotARecord", Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), "$F150699\n", NRecord(1, 2, 3)),
     kCachedStart, kCurrentTime, "StartDate: \"$F150699"},
    {"NowDayZero", Clock(NRecord(0, 6, 99), NRecord(12, 30, 45), NRecord(1, 1, 80), NRecord(0, 0, 0)), 315532800,
     0, "Day 0, Month 5, Year 99"},
    {"NowNotARecord", Clock("$F\n", NRecord(12, 30, 45), NRecord(1, 1, 80), NRecord(0, 0, 0)), 315532800, 0,
     "Date: \"$F\n\""},
    {"DateNotTerminated",
     Script{Unterminated("SHOW_DATE", NRecord(15, 6, 99))} +
         Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(1, 1, 80), NRecord(0, 0, 0)),
     315532800, 929449845, kDateNotTerminated.c_str()},
    {"TimeNotServed",
     Script{{0, "SHOW_TIME", false, "", -1, 0}} +
         Clock(NRecord(15, 6, 99), NRecord(12, 30, 45), NRecord(1, 1, 80), NRecord(0, 0, 0)),
     kCachedStart, kCurrentTime, nullptr},
};

TEST(AddinInstrumentValues, StartTimeFromTheInstrumentClock) {
    // The instrument's local time is read in UTC, so that every expected
    // value is a fixed number; nothing else in this program reads local time.
    ScopedVariable utc("TZ", "UTC0");
    tzset();
    ScriptedMcb mcb;
    ASSERT_TRUE(mcb.ready());
    mcb.identify(kKeepingInstrument);
    mcb.entry().tStart[0] = kCachedStart;
    for (const StartTimeCase& c : kStartTimeCases) {
        SCOPED_TRACE(c.pszName);
        mcb.answer(c.answers);
        int32_t tNow = 5;
        const int32_t tBefore = static_cast<int32_t>(time(nullptr));
        EXPECT_EQ(mcb.addin().LocalGetStartTime(97, 1, &tNow), c.tStart);
        const int32_t tAfter = static_cast<int32_t>(time(nullptr));
        if (c.tNow == kCurrentTime) {
            EXPECT_GE(tNow, tBefore);
            EXPECT_LE(tNow, tAfter);
        } else {
            EXPECT_EQ(tNow, c.tNow);
        }
        if (c.pszMessage != nullptr) {
            EXPECT_EQ(CountOf(mcb.messages(), c.pszMessage), 1u) << c.pszMessage;
        } else {
            EXPECT_EQ(CountOf(mcb.messages(), "LocalGetStartTime()"), 0u);
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
