// The built library as hosts load it, against TAVO and PELLUX simulator
// programs on COM1: identification, a spectrum in 128-channel exchanges, and
// the detector values an instrument of these families keeps itself
// (data-application values, lock, description, start time), none of which
// may reach DETHUB.INI. Portable: the Wine lane runs it with the simulator as
// a native program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "platform/platform.h"
#include "support/sim_program.h"

namespace linkbay {
namespace test {
namespace {

constexpr int32_t kMcb = 97;

AddinBase& Addin() { return TheAddin().addin(); }
const McbEntry& Entry() { return TheAddin().header().m_pMcbTable[kMcb - 97]; }

class NumberedCommandDetector : public InstrumentOnCom1<::testing::TestWithParam<const char*>> {
protected:
    void SetUp() override { OpenOn(GetParam()); }
};

TEST_P(NumberedCommandDetector, IdentifiesReadsAndKeepsItsValuesInTheInstrument) {
    char szVersion[16] = {};
    ASSERT_TRUE(Addin().GetVersion(kMcb, szVersion, sizeof szVersion));
    EXPECT_EQ(std::string(szVersion), OkValue(sim("text 158")));
    EXPECT_EQ(Addin().GetInputCount(kMcb), 1);
    EXPECT_EQ(Addin().GetChannels(kMcb, 1), std::stoi(OkValue(sim("memory"))));
    EXPECT_NE(Entry().dwFeatures[0][0] & 16u, 0u);  // values kept by the instrument

    ASSERT_EQ(sim("set-counts 200 5 6 7"), "ok\n");
    uint32_t dwData[3] = {};
    ASSERT_EQ(Addin().ReadSpectrum(kMcb, 1, nullptr, nullptr, 0, 200, 3, 0, dwData), 1);
    EXPECT_EQ(dwData[0], 5u);
    EXPECT_EQ(dwData[2], 7u);

    EXPECT_TRUE(Addin().SetDataApp(kMcb, 1, "Sample", "soil 12"));
    char szValue[64] = {};
    EXPECT_EQ(Addin().GetDataApp(kMcb, 1, "Sample", "none", szValue, sizeof szValue), 7);
    EXPECT_STREQ(szValue, "soil 12");
    EXPECT_EQ(Addin().GetDataApp(kMcb, 1, "Unknown", "none", szValue, sizeof szValue), 4);
    EXPECT_STREQ(szValue, "none");

    Addin().SetLock(kMcb, 1, 42, "lab");
    char szOwner[32] = {};
    EXPECT_EQ(Addin().GetLock(kMcb, 1, szOwner, sizeof szOwner), 42u);
    EXPECT_STREQ(szOwner, "lab");
    EXPECT_TRUE(Addin().SetDataApp(kMcb, 1, "@DESC", "bench probe"));
    uint8_t bDefault = 1;
    char szDescription[64] = {};
    EXPECT_TRUE(Addin().GetDescription(kMcb, 1, szDescription, sizeof szDescription, &bDefault));
    EXPECT_STREQ(szDescription, "bench probe");
    EXPECT_EQ(bDefault, 0);

    // The start the instrument dated, against the instrument's own clock.
    ASSERT_EQ(sim("date 2026-03-04 05:06:07"), "ok\n");
    char szResponse[32] = {};
    int32_t nLen = 0, nMac = 0, nMic = 0;
    ASSERT_TRUE(Addin().Dialog(kMcb, 1, "START", sizeof szResponse, szResponse, &nLen, &nMac, &nMic));
    int32_t tNow = 0;
    const int32_t tStart = Addin().LocalGetStartTime(kMcb, 1, &tNow);
    std::tm start{};
    ASSERT_TRUE(LocalCalendarTime(tStart, start));
    EXPECT_EQ(start.tm_year + 1900, 2026);
    EXPECT_EQ(start.tm_mday, 4);
    EXPECT_EQ(start.tm_hour, 5);
    EXPECT_GE(tNow, tStart);

    for (const char* pszKey : {"Sample", "@LOCK", "@DESC"}) EXPECT_EQ(StoredValue(pszKey), "(none)") << pszKey;
}

INSTANTIATE_TEST_SUITE_P(Families, NumberedCommandDetector, ::testing::Values("tavo", "pellux"));

}  // namespace
}  // namespace test
}  // namespace linkbay
