// The detector operations of the built library against a KORV simulator
// program on COM1: identification, the command path, the ROI shortcuts, the
// spectrum transfer and the accessors, with the bytes the instrument heard.
// Portable: the Wine lane runs it with the simulator as a native program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "support/child_process.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

constexpr int32_t kMcb = 97;
constexpr int32_t kUnconfiguredMcb = 98;

// The value after "ok " of a control reply, without its line feed.
std::string OkValue(const std::string& sReply) {
    if (sReply == "ok\n") return std::string();
    if (sReply.compare(0, 3, "ok ") != 0) return "<" + sReply + ">";
    return sReply.substr(3, sReply.find('\n') - 3);
}

// The add-in opened on a configuration with a simulated KORV on COM1.
class DetectorOps : public ::testing::Test {
protected:
    void SetUp() override {
        m_loaded.writeIni("[CONFIG]\r\nCOM1=korv\r\n");
        m_sim = std::make_unique<SimulatorProgram>(1);
        ASSERT_TRUE(m_sim->ready()) << m_sim->problem();
        ASSERT_EQ(m_sim->control("set version 2.25"), "ok\n");
        ASSERT_TRUE(addin().Open());
        m_bOpen = true;
    }
    void TearDown() override {
        if (m_bOpen) addin().Close();
        m_sim.reset();
    }
    AddinBase& addin() { return m_loaded.addin(); }
    const McbEntry& entry() { return m_loaded.header().m_pMcbTable[kMcb - 97]; }
    // The device bytes the instrument heard since the last call, escaped.
    std::string heard() {
        const std::string sSent = OkValue(m_sim->control("sent " + m_sMark));
        m_sMark = OkValue(m_sim->control("mark"));
        return sSent;
    }
    void mark() { m_sMark = OkValue(m_sim->control("mark")); }

    LoadedAddin& m_loaded = TheAddin();
    std::unique_ptr<SimulatorProgram> m_sim;
    std::string m_sMark = "0";
    bool m_bOpen = false;
};

TEST_F(DetectorOps, OpenIdentifiesTheInstrumentOnItsPort) {
    EXPECT_NE(m_loaded.debugLog().find("Linkbay::InterrogateMCB(): Opened COM1 and became owner\r\n"),
              std::string::npos);
    EXPECT_EQ(entry().nInputs, 1);
    EXPECT_STREQ(entry().szVersion, "KORV-225");
    char szVersion[16];
    memset(szVersion, 'x', sizeof szVersion);
    EXPECT_TRUE(addin().GetVersion(kMcb, szVersion, sizeof szVersion));
    EXPECT_STREQ(szVersion, "KORV-225");
    EXPECT_EQ(addin().GetInputCount(kMcb), 1);
    EXPECT_EQ(addin().GetChannels(kMcb, 1), static_cast<int32_t>(entry().wInputChannels[0]));
    EXPECT_GT(addin().GetChannels(kMcb, 1), 0);
    EXPECT_TRUE(addin().IsValidDetector(kMcb, 1));
    // The KORV driver serves detector 1 only.
    EXPECT_FALSE(addin().IsValidDetector(kMcb, 2));
    EXPECT_EQ(addin().GetChannels(kMcb, 2), 0);
}

TEST_F(DetectorOps, InvalidDetectorsAnswerWithoutTouchingThePort) {
    mark();
    struct Case {
        int32_t nMcb;
        int32_t nDet;
    };
    const Case kCases[] = {{96, 1}, {102, 1}, {kMcb, 0}, {kMcb, 33}, {kUnconfiguredMcb, 1}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.nMcb) + "/" + std::to_string(c.nDet));
        EXPECT_FALSE(addin().IsValidDetector(c.nMcb, c.nDet));
        int32_t nStatus = 5;
        EXPECT_TRUE(addin().IsDetectorActive(c.nMcb, c.nDet, &nStatus));
        EXPECT_EQ(nStatus, -1);
        uint32_t dwFeatures[2] = {7, 7};
        EXPECT_FALSE(addin().GetFeatures(c.nMcb, c.nDet, dwFeatures, 2));
        EXPECT_EQ(dwFeatures[0], 7u);
        uint32_t dwData[4] = {};
        EXPECT_EQ(addin().ReadSpectrum(c.nMcb, c.nDet, nullptr, nullptr, 0, 0, 4, 0, dwData), -1);
        EXPECT_EQ(addin().GetChannels(c.nMcb, c.nDet), 0);
    }
    // A version buffer of an invalid MCB: only its last character changes.
    char szVersion[8];
    memset(szVersion, 'x', sizeof szVersion);
    EXPECT_FALSE(addin().GetVersion(kUnconfiguredMcb, szVersion, sizeof szVersion));
    EXPECT_EQ(std::string(szVersion, 7), "xxxxxxx");
    EXPECT_EQ(szVersion[7], '\0');
    EXPECT_EQ(addin().GetInputCount(kUnconfiguredMcb), 0);
    EXPECT_EQ(heard(), "");
}

TEST_F(DetectorOps, DialogAnswersWithTheDriversRecordsOrTheErrorPair) {
    struct Case {
        const char* pszName;
        int32_t nMcb;
        const char* pszLine;
        bool bResult;
        const char* pszResponse;
        int32_t nMac;
        int32_t nMic;
    };
    const Case kCases[] = {
        {"a query", kMcb, "SHOW_VERSION", true, "$FKORV-2250\n", 0, 0},
        {"a line the parser rejects", kMcb, "FROBNICATE", true, "", 129, 1},
        {"a line the driver refuses", kMcb, "SET_ROI 100,0", true, "", 131, 129},
        {"an unconfigured port", kUnconfiguredMcb, "SHOW_VERSION", false, "", -9, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        char szResponse[64];
        memset(szResponse, 'x', sizeof szResponse);
        int32_t nLength = -5, nMac = -5, nMic = -5;
        EXPECT_EQ(addin().Dialog(c.nMcb, 1, c.pszLine, sizeof szResponse, szResponse, &nLength, &nMac, &nMic),
                  c.bResult);
        ASSERT_EQ(nLength, static_cast<int32_t>(strlen(c.pszResponse)));
        EXPECT_EQ(std::string(szResponse, nLength), c.pszResponse);
        if (c.nMac == -9) {
            EXPECT_EQ(szResponse[0], '\0');
        }
        EXPECT_EQ(nMac, c.nMac);
        EXPECT_EQ(nMic, c.nMic);
    }
    // Null pointers are left alone.
    EXPECT_FALSE(addin().Dialog(kUnconfiguredMcb, 1, "SHOW_VERSION", 0, nullptr, nullptr, nullptr, nullptr));
}

// The instrument hears the ROI table when a region changes; the window is the
// driver's own. A refused ROI write does not fail the operation.
TEST_F(DetectorOps, RoiShortcutsReportTheOutcomeOfTheirLines) {
    struct Case {
        const char* pszName;
        bool bClear;
        uint32_t nFirst;
        uint32_t nCount;
        bool bInstrumentRefuses;  // the operation's first exchange gets the refusal
        int32_t nResult;
        int32_t nMac;
        int32_t nMic;
        bool bInstrumentHears;
    };
    const Case kCases[] = {
        {"set", false, 10, 20, false, 1, 0, 0, true},
        {"set, the table write refused", false, 10, 20, true, 1, 0, 0, true},
        {"set, no channels", false, 100, 0, false, -6, 131, 129, false},
        {"clear", true, 10, 20, false, 1, 0, 0, true},
        {"clear, window beyond the spectrum", true, 10, 5000, false, -6, 131, 129, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        if (c.bInstrumentRefuses) {
            ASSERT_EQ(m_sim->control("fault next reject").compare(0, 2, "ok"), 0);
        }
        const size_t nLogBefore = m_loaded.debugLog().size();
        mark();
        int32_t nMac = -5, nMic = -5;
        const int32_t nResult = c.bClear ? addin().ClearROI(kMcb, 1, c.nFirst, c.nCount, 0, &nMac, &nMic)
                                         : addin().SetROI(kMcb, 1, c.nFirst, c.nCount, 0, &nMac, &nMic);
        EXPECT_EQ(nResult, c.nResult);
        EXPECT_EQ(nMac, c.nMac);
        EXPECT_EQ(nMic, c.nMic);
        EXPECT_EQ(!heard().empty(), c.bInstrumentHears);
        // Only lines the driver did not serve at all are reported.
        EXPECT_EQ(m_loaded.debugLog().find("Linkbay::ClearROI()", nLogBefore), std::string::npos);
    }
    m_sim->control("clear-faults");
}

TEST_F(DetectorOps, ReadSpectrumReturnsTheInstrumentsCountsAndTheMasks) {
    std::string sCounts = "set-counts 0";
    for (int nChannel = 0; nChannel < 16; ++nChannel) sCounts += " " + std::to_string(nChannel * 1000 + 7);
    ASSERT_EQ(m_sim->control(sCounts), "ok\n");
    uint32_t dwData[16] = {};
    uint32_t dwMask1 = 0, dwMask2 = 0;
    ASSERT_EQ(addin().ReadSpectrum(kMcb, 1, &dwMask1, &dwMask2, 0, 0, 16, 0, dwData), 1);
    EXPECT_EQ(dwMask1, 0x7FFFFFFFu);
    EXPECT_EQ(dwMask2, 0x80000000u);
    std::istringstream instrument(OkValue(m_sim->control("counts 0 16")));
    for (uint32_t& dwWord : dwData) {
        uint32_t dwExpected = 0;
        instrument >> dwExpected;
        EXPECT_EQ(dwWord & 0x7FFFFFFFu, dwExpected);
    }
    EXPECT_EQ(dwData[3] & 0x7FFFFFFFu, 3007u);
}

// The spectrum read by one process serves another for 500 ms, through the
// data the processes share; later reads ask the instrument again.
TEST_F(DetectorOps, ASpectrumReadServesOtherProcessesFor500Ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // past this process's interrogation
    ChildProcess other(LINKBAY_HOST_PATH, {"hold"});
    ASSERT_EQ(other.readLine(20000), "READY processes=2");
    ASSERT_EQ(m_sim->control("set-counts 0 11 12 13"), "ok\n");
    uint32_t dwData[3] = {};
    mark();
    ASSERT_EQ(addin().ReadSpectrum(kMcb, 1, nullptr, nullptr, 0, 0, 3, 0, dwData), 1);
    const auto readTime = std::chrono::steady_clock::now();
    const std::string kTransfer = "fb\\r";  // then the ROI table, when not known yet
    EXPECT_EQ(heard().compare(0, kTransfer.size(), kTransfer), 0);
    ASSERT_EQ(m_sim->control("set-counts 0 21 22 23"), "ok\n");
    struct Step {
        int nAfterMs;  // wide of the 500 ms on both sides: a busy machine may oversleep
        const char* pszAnswer;
        bool bTransfer;
    };
    const Step kSteps[] = {{200, "OK result=1 11 12 13", false}, {800, "OK result=1 21 22 23", true}};
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.nAfterMs);
        std::this_thread::sleep_until(readTime + std::chrono::milliseconds(step.nAfterMs));
        ASSERT_TRUE(other.writeLine("read 97 1 0 3"));
        EXPECT_EQ(other.readLine(), step.pszAnswer);
        const std::string sHeard = heard();
        EXPECT_EQ(sHeard.compare(0, kTransfer.size(), kTransfer) == 0, step.bTransfer) << sHeard;
        if (!step.bTransfer) {
            EXPECT_EQ(sHeard, "");
        }
    }
    other.closeInput();
    EXPECT_EQ(other.wait(20000), 0);
}

TEST_F(DetectorOps, FeaturesBeyondTheSixteenWordsAreZero) {
    uint32_t dwFeatures[20];
    memset(dwFeatures, 0xAB, sizeof dwFeatures);
    ASSERT_TRUE(addin().GetFeatures(kMcb, 1, dwFeatures, 20));
    for (int k = 0; k < 16; ++k) EXPECT_EQ(dwFeatures[k], entry().dwFeatures[0][k]) << "word " << k;
    for (int k = 16; k < 20; ++k) EXPECT_EQ(dwFeatures[k], 0u) << "word " << k;
}

}  // namespace
}  // namespace test
}  // namespace linkbay
