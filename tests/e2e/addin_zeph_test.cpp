// The built library as hosts load it, against a ZEPH simulator program on
// COM1: identification, a command line, a spectrum with its ROI flags, and
// one set of block exchanges serving two processes within 500 ms. Portable:
// the Wine lane runs it with the simulator as a native program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "sim/byte_escapes.h"
#include "support/child_process.h"
#include "support/sim_program.h"

namespace linkbay {
namespace test {
namespace {

constexpr int32_t kMcb = 97;

AddinBase& Addin() { return TheAddin().addin(); }

class ZephDetector : public InstrumentOnCom1<> {
protected:
    void SetUp() override { OpenOn("zeph"); }
    void mark() { m_sMark = OkValue(sim("mark")); }
    // The spectrum blocks (frame code 0x5B) the instrument heard since the mark.
    int blocksHeard() {
        std::string sBytes;
        EXPECT_TRUE(sim::UnescapeBytes(OkValue(sim("sent " + m_sMark)), sBytes));
        mark();
        int n = 0;
        for (size_t i = 0; i + 12 <= sBytes.size(); i += 12) n += sBytes[i + 2] == 0x5B && sBytes[i + 3] == 0;
        return n;
    }

    std::string m_sMark = "0";
};

TEST_F(ZephDetector, OpenIdentifiesTheInstrumentAndItAnswersCommandsAndSpectra) {
    char szVersion[16] = {};
    ASSERT_TRUE(Addin().GetVersion(kMcb, szVersion, sizeof szVersion));
    char szExpected[16];
    std::snprintf(szExpected, sizeof szExpected, "ZEPH-%3.3X", std::stoi(OkValue(sim("status 92"))) & 0xFFF);
    EXPECT_STREQ(szVersion, szExpected);
    EXPECT_EQ(Addin().GetInputCount(kMcb), 1);
    EXPECT_EQ(Addin().GetChannels(kMcb, 1), 4096);
    uint32_t dwFeatures[4] = {};
    ASSERT_TRUE(Addin().GetFeatures(kMcb, 1, dwFeatures, 4));
    EXPECT_EQ(dwFeatures[0], 27891823u);  // as SHOW_FEATURES answers

    char szResponse[64] = {};
    int32_t nLength = 0, nMac = -5, nMic = -5;
    ASSERT_EQ(sim("status 50 200"), "ok\n");
    EXPECT_TRUE(Addin().Dialog(kMcb, 1, "SET_GAIN_COARSE 50", sizeof szResponse, szResponse, &nLength, &nMac, &nMic));
    EXPECT_EQ(nMac, 0);
    EXPECT_EQ(OkValue(sim("status 50")), "50");
    EXPECT_TRUE(Addin().Dialog(kMcb, 1, "SHOW_GAIN_COARSE", sizeof szResponse, szResponse, &nLength, &nMac, &nMic));
    EXPECT_EQ(std::string(szResponse, 7), "$C00050");

    ASSERT_EQ(sim("set-counts 0 7 1007 2007 3007"), "ok\n");
    ASSERT_EQ(sim("roi 1 2 3"), "ok\n");
    ASSERT_EQ(sim("roi 0 1"), "ok\n");
    uint32_t dwData[4] = {};
    mark();
    ASSERT_EQ(Addin().ReadSpectrum(kMcb, 1, nullptr, nullptr, 0, 0, 4, 0, dwData), 1);
    EXPECT_EQ(blocksHeard(), 128);
    const uint32_t expected[4] = {7, 1007, 2007 | 0x80000000u, 3007 | 0x80000000u};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dwData[i], expected[i]) << i;
}

TEST_F(ZephDetector, ASpectrumReadServesOtherProcessesFor500Ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // past this process's interrogation
    ChildProcess other(LINKBAY_HOST_PATH, {"hold"});
    ASSERT_EQ(other.readLine(20000), "READY processes=2");
    ASSERT_EQ(sim("set-counts 0 11 12 13"), "ok\n");
    uint32_t dwData[3] = {};
    mark();
    ASSERT_EQ(Addin().ReadSpectrum(kMcb, 1, nullptr, nullptr, 0, 0, 3, 0, dwData), 1);
    const auto readTime = std::chrono::steady_clock::now();
    EXPECT_EQ(blocksHeard(), 128);
    ASSERT_EQ(sim("set-counts 0 21 22 23"), "ok\n");
    struct Step {
        int nAfterMs;  // wide of the 500 ms on both sides: a busy machine may oversleep
        const char* pszAnswer;
        int nBlocks;
    };
    const Step kSteps[] = {{200, "OK result=1 11 12 13", 0}, {800, "OK result=1 21 22 23", 128}};
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.nAfterMs);
        std::this_thread::sleep_until(readTime + std::chrono::milliseconds(step.nAfterMs));
        ASSERT_TRUE(other.writeLine("read 97 1 0 3"));
        EXPECT_EQ(other.readLine(), step.pszAnswer);
        EXPECT_EQ(blocksHeard(), step.nBlocks);
    }
    other.closeInput();
    EXPECT_EQ(other.wait(20000), 0);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
