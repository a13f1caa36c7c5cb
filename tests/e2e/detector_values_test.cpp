// Per-detector values through the built library as hosts load it, with the
// KORV simulator on COM1: an instrument that cannot keep the values itself,
// so they live in its section of DETHUB.INI. Portable: this also runs as a
// Windows program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "platform/platform.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

const std::string kConfig = "[CONFIG]\r\nCOM1=korv\r\n";

AddinBase& Addin() { return TheAddin().addin(); }

// DETHUB.INI read the way the library reads it, wherever the platform keeps it.
std::string StoredValue(const char* pszSection, const char* pszKey) {
    char szValue[512] = "";
    GetPrivateProfileStringA(pszSection, pszKey, "(none)", szValue, sizeof szValue, "DETHUB.INI");
    return szValue;
}
std::string SectionNames() {
    char szNames[2048] = "";
    const DWORD cch = GetPrivateProfileStringA(nullptr, nullptr, "", szNames, sizeof szNames, "DETHUB.INI");
    return std::string(szNames, cch);
}

int32_t Now() { return static_cast<int32_t>(time(nullptr)); }

// One simulator for the suite; every test opens the add-in on a file of its
// own and closes it again, so each starts from a fresh identification.
class DetectorValues : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TheAddin();  // the test's directory first: the simulator starts in it
        s_pSimulator = new SimulatorProgram(1);
    }
    static void TearDownTestSuite() {
        delete s_pSimulator;
        s_pSimulator = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_pSimulator->ready()) << s_pSimulator->problem(); }
    void TearDown() override {
        if (m_bOpen) Addin().Close();
    }

    // Opens the add-in with detector 1 of MCB 97 holding these lines.
    void OpenWith(const std::string& sSection) {
        TheAddin().writeIni(kConfig + "[M97S01]\r\n" + sSection);
        ASSERT_TRUE(Addin().Open());
        m_bOpen = true;
        ASSERT_TRUE(Addin().IsValidDetector(97, 1));
        uint32_t dwWord0 = 0;
        ASSERT_TRUE(Addin().GetFeatures(97, 1, &dwWord0, 1));
        ASSERT_EQ(dwWord0 & 16u, 0u);  // the values are the file's to keep
    }
    // Replaces detector 1's section while the add-in is open.
    static void Rewrite(const std::string& sSection) { TheAddin().writeIni(kConfig + "[M97S01]\r\n" + sSection); }

    static SimulatorProgram* s_pSimulator;
    bool m_bOpen = false;
};
SimulatorProgram* DetectorValues::s_pSimulator = nullptr;

TEST_F(DetectorValues, KeysAreWrittenToTheDetectorSectionAndReadBack) {
    OpenWith("");
    struct Case {
        const char* pszKey;
        const char* pszValue;
    };
    const Case kCases[] = {{"K", "V"}, {"@DESC", "shelf 3, left"}, {"Operator", "a=b"}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszKey);
        EXPECT_TRUE(Addin().SetDataApp(97, 1, c.pszKey, c.pszValue));
        EXPECT_EQ(StoredValue("M97S01", c.pszKey), c.pszValue);
        char szValue[64] = "";
        EXPECT_EQ(Addin().GetDataApp(97, 1, c.pszKey, "dflt", szValue, sizeof szValue),
                  static_cast<int32_t>(strlen(c.pszValue)));
        EXPECT_STREQ(szValue, c.pszValue);
    }
    char szValue[64] = "";
    EXPECT_EQ(Addin().GetDataApp(97, 1, "Missing", "dflt", szValue, sizeof szValue), 4);
    EXPECT_STREQ(szValue, "dflt");
}

// What fits is copied with its NUL, the length counts what was copied, and
// nothing beyond the size given is touched (none of it for sizes below 1).
TEST_F(DetectorValues, GetDataAppKeepsToTheBufferSize) {
    OpenWith("Word=hello\r\n");
    struct Case {
        const char* pszKey;
        int32_t nSize;
        int32_t nLength;
        const char* pszText;  // null: the buffer is untouched
    };
    const Case kCases[] = {
        {"Word", 0, 0, nullptr}, {"Word", -1, 0, nullptr}, {"Word", 1, 0, ""},         {"Word", 3, 2, "he"},
        {"Word", 5, 4, "hell"},  {"Word", 6, 5, "hello"},  {"Word", 32, 5, "hello"},   {"Missing", 4, 3, "dfl"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.pszKey) + " in " + std::to_string(c.nSize));
        char szBuffer[40];
        memset(szBuffer, '#', sizeof szBuffer);
        EXPECT_EQ(Addin().GetDataApp(97, 1, c.pszKey, "dflt", szBuffer, c.nSize), c.nLength);
        const size_t nUntouched = c.pszText != nullptr ? static_cast<size_t>(c.nSize) : 0;
        if (c.pszText != nullptr) {
            EXPECT_STREQ(szBuffer, c.pszText);
        }
        EXPECT_EQ(std::string(szBuffer + nUntouched, sizeof szBuffer - nUntouched),
                  std::string(sizeof szBuffer - nUntouched, '#'));
    }
}

TEST_F(DetectorValues, LockStoresIdentifierAndOwnerAndReturnsTheOwnerText) {
    OpenWith("");
    const std::string sLongOwner(300, 'x');
    struct Case {
        uint32_t dwLockId;
        std::string sOwner;
        std::string sStored;
        int32_t nOwnerSize;
        std::string sReturned;
    };
    const Case kCases[] = {
        {42, "lab", "42 lab", 16, "lab"},
        {7, "1st user", "7 1st user", 16, "st user"},  // the owner starts after digits, blanks, punctuation
        {42, "lab", "42 lab", 3, "la"},
        {9, sLongOwner, "9 " + std::string(125, 'x'), 200, std::string(125, 'x')},  // cut to fit the value
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.sStored.substr(0, 12) + " in " + std::to_string(c.nOwnerSize));
        Addin().SetLock(97, 1, c.dwLockId, c.sOwner.c_str());
        EXPECT_EQ(StoredValue("M97S01", "@LOCK"), c.sStored);
        char szOwner[256];
        memset(szOwner, '#', sizeof szOwner);
        EXPECT_EQ(Addin().GetLock(97, 1, szOwner, c.nOwnerSize), c.dwLockId);
        EXPECT_EQ(std::string(szOwner), c.sReturned);
        EXPECT_EQ(szOwner[c.nOwnerSize], '#');
        EXPECT_EQ(Addin().GetLock(97, 1, nullptr, 0), c.dwLockId);
    }
}

TEST_F(DetectorValues, DescriptionAndIdentifierFallBackToDefaults) {
    OpenWith("");
    struct Case {
        const char* pszSection;
        int32_t nSize;
        const char* pszDescription;
        uint8_t bDescriptionDefault;
        uint32_t dwId;
        uint8_t bIdDefault;
    };
    const Case kCases[] = {
        {"", 32, "MCB 97", 1, 9701, 1},
        {"", 4, "MCB", 1, 9701, 1},
        {"@DESC=bench 3\r\n@ID=1234abc\r\n", 32, "bench 3", 0, 1234, 0},
        {"@DESC=bench 3\r\n@ID=x\r\n", 4, "ben", 0, 0, 0},  // an identifier that is there, if not a number
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.pszSection) + " in " + std::to_string(c.nSize));
        Rewrite(c.pszSection);
        char szDescription[40];
        memset(szDescription, '#', sizeof szDescription);
        uint8_t bDefault = 9;
        EXPECT_TRUE(Addin().GetDescription(97, 1, szDescription, c.nSize, &bDefault));
        EXPECT_STREQ(szDescription, c.pszDescription);
        EXPECT_EQ(szDescription[c.nSize], '#');
        EXPECT_EQ(bDefault, c.bDescriptionDefault);
        uint32_t dwId = 5;
        bDefault = 9;
        EXPECT_TRUE(Addin().GetDetectorId(97, 1, &dwId, &bDefault));
        EXPECT_EQ(dwId, c.dwId);
        EXPECT_EQ(bDefault, c.bIdDefault);
    }
}

// An instrument without the feature bit is not asked its clock: the start
// time is the one marked, and "now" is the computer's.
TEST_F(DetectorValues, StartTimeIsTheMarkedOneWithoutAskingTheInstrument) {
    OpenWith("");
    const int32_t tBefore = Now();
    Addin().MarkStartTime(97, 1, 12345);
    const int32_t tMarked = static_cast<int32_t>(strtol(StoredValue("M97S01", "@START").c_str(), nullptr, 10));
    EXPECT_GE(tMarked, tBefore);
    EXPECT_LE(tMarked, Now());

    const std::string sExchanges = s_pSimulator->control("exchanges");
    int32_t tNow = 0;
    EXPECT_EQ(Addin().LocalGetStartTime(97, 1, &tNow), tMarked);
    EXPECT_GE(tNow, tMarked);
    EXPECT_LE(tNow, Now());
    EXPECT_EQ(Addin().LocalGetStartTime(97, 1, nullptr), tMarked);
    EXPECT_EQ(s_pSimulator->control("exchanges"), sExchanges);
}

TEST_F(DetectorValues, EnumerationReloadsLockAndStartAndClearsTheSharedWord) {
    OpenWith("");
    struct Case {
        const char* pszSection;
        uint32_t dwLockId;
        const char* pszOwner;  // what GetLock finds in the file
        int32_t tStart;
    };
    const Case kCases[] = {
        {"@LOCK=5 other\r\n@START=1234567\r\n", 5, "other", 1234567},
        {"@LOCK=abc\r\n@START=-20\r\n", 0, "abc", -20},
        {"", 42, "", 0},  // no stored lock: the cached one stays
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszSection);
        Addin().SetLock(97, 1, 42, "lab");
        Addin().MarkStartTime(97, 1, 0);
        Addin().SetSharedWord(97, 1, 77);
        EXPECT_EQ(Addin().GetSharedWord(97, 1), 77u);
        Rewrite(c.pszSection);
        char szOwner[32] = "";
        EXPECT_EQ(Addin().GetLock(97, 1, szOwner, sizeof szOwner), 42u);  // the cache, not the file
        EXPECT_STREQ(szOwner, c.pszOwner);

        ASSERT_TRUE(Addin().EnumerateDetectors());
        EXPECT_EQ(Addin().GetLock(97, 1, nullptr, 0), c.dwLockId);
        EXPECT_EQ(Addin().LocalGetStartTime(97, 1, nullptr), c.tStart);
        EXPECT_EQ(Addin().GetSharedWord(97, 1), 0u);
    }
}

// Out of range, a detector the driver does not serve, a port without an
// instrument: every value operation answers "invalid" and stores nothing.
TEST_F(DetectorValues, InvalidDetectorsAnswerAsSuchAndStoreNothing) {
    OpenWith("@LOCK=3 owner\r\n");
    struct Address {
        int32_t nMcb;
        int32_t nDet;
    };
    const Address kAddresses[] = {{96, 1}, {102, 1}, {97, 0}, {97, 33}, {97, 2}, {98, 1}};
    const std::string sSections = SectionNames();
    for (const Address& a : kAddresses) {
        SCOPED_TRACE(std::to_string(a.nMcb) + "/" + std::to_string(a.nDet));
        EXPECT_FALSE(Addin().SetDataApp(a.nMcb, a.nDet, "K", "V"));
        char szBuffer[16] = "same";
        EXPECT_EQ(Addin().GetDataApp(a.nMcb, a.nDet, "K", "dflt", szBuffer, sizeof szBuffer), 0);
        EXPECT_STREQ(szBuffer, "same");
        Addin().SetLock(a.nMcb, a.nDet, 42, "lab");
        EXPECT_EQ(Addin().GetLock(a.nMcb, a.nDet, szBuffer, sizeof szBuffer), 0u);
        EXPECT_STREQ(szBuffer, "same");
        Addin().SetSharedWord(a.nMcb, a.nDet, 7);
        EXPECT_EQ(Addin().GetSharedWord(a.nMcb, a.nDet), 0u);
        Addin().MarkStartTime(a.nMcb, a.nDet, 0);
        int32_t tNow = 5;
        EXPECT_EQ(Addin().LocalGetStartTime(a.nMcb, a.nDet, &tNow), 0);
        EXPECT_EQ(tNow, 0);
        char szDescription[32] = "";
        uint8_t bDefault = 0;
        EXPECT_FALSE(Addin().GetDescription(a.nMcb, a.nDet, szDescription, sizeof szDescription, &bDefault));
        EXPECT_STREQ(szDescription, "Invalid Detector");
        EXPECT_EQ(bDefault, 1);
        uint32_t dwId = 5;
        bDefault = 0;
        EXPECT_FALSE(Addin().GetDetectorId(a.nMcb, a.nDet, &dwId, &bDefault));
        EXPECT_EQ(dwId, 0u);
        EXPECT_EQ(bDefault, 1);
    }
    EXPECT_EQ(SectionNames(), sSections);
    EXPECT_EQ(StoredValue("M97S01", "@LOCK"), "3 owner");
}

}  // namespace
}  // namespace test
}  // namespace linkbay
