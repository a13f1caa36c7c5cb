// The detector operations of the built library as hosts load it, against a
// KORV simulator program on COM1: identification and the spectrum transfer,
// addresses that reach no instrument, and the per-detector values of an
// instrument that cannot keep them itself, so that they live in its section
// of DETHUB.INI. Portable: the Wine lane runs it with the simulator as a
// native program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "platform/platform.h"
#include "support/sim_program.h"

namespace linkbay {
namespace test {
namespace {

constexpr int32_t kMcb = 97;
const std::string kConfig = "[CONFIG]\r\nCOM1=korv\r\n";

AddinBase& Addin() { return TheAddin().addin(); }
const McbEntry& Entry() { return TheAddin().header().m_pMcbTable[kMcb - 97]; }
int32_t Now() { return static_cast<int32_t>(time(nullptr)); }

// DETHUB.INI's sections, read the way the library reads the file.
std::string SectionNames() {
    char szNames[2048] = "";
    const DWORD cch = GetPrivateProfileStringA(nullptr, nullptr, "", szNames, sizeof szNames, "DETHUB.INI");
    return std::string(szNames, cch);
}

// One simulator for the suite; every test opens the add-in on a file of its
// own and closes it again, so each starts from a fresh identification.
class Detector : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TheAddin();  // the test's directory first: the simulator starts in it
        s_pSim = new SimulatorProgram(1);
    }
    static void TearDownTestSuite() {
        delete s_pSim;
        s_pSim = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_pSim->ready()) << s_pSim->problem();
        ASSERT_EQ(sim("set version 2.25"), "ok\n");
    }
    void TearDown() override {
        sim("clear-faults");
        if (m_bOpen) Addin().Close();
    }

    // Opens the add-in with detector 1 of MCB 97 holding these lines.
    void OpenWith(const std::string& sSection = std::string()) {
        Rewrite(sSection);
        ASSERT_TRUE(Addin().Open());
        m_bOpen = true;
        ASSERT_TRUE(Addin().IsValidDetector(kMcb, 1));
        ASSERT_EQ(Entry().dwFeatures[0][0] & 16u, 0u);  // the values are the file's to keep
        mark();
    }
    // Replaces detector 1's section while the add-in is open.
    static void Rewrite(const std::string& sSection) { TheAddin().writeIni(kConfig + "[M97S01]\r\n" + sSection); }
    static std::string sim(const std::string& sCommand) { return s_pSim->control(sCommand); }
    // The device bytes the instrument heard since the last call, escaped.
    std::string heard() {
        const std::string sSent = OkValue(sim("sent " + m_sMark));
        mark();
        return sSent;
    }
    void mark() { m_sMark = OkValue(sim("mark")); }

    static SimulatorProgram* s_pSim;
    bool m_bOpen = false;
    std::string m_sMark = "0";
};
SimulatorProgram* Detector::s_pSim = nullptr;

// The host program's list and send show the rest of what identification
// found and the command path (HostAndSimulator.HostCommandsPrintWhatTheInstrumentAnswered).
TEST_F(Detector, OpenIdentifiesTheInstrumentAndItTransfersWithTheMasksFound) {
    OpenWith();
    char szVersion[16];
    memset(szVersion, 'x', sizeof szVersion);
    EXPECT_TRUE(Addin().GetVersion(kMcb, szVersion, sizeof szVersion));
    EXPECT_STREQ(szVersion, "KORV-225");
    EXPECT_EQ(Addin().GetChannels(kMcb, 1), static_cast<int32_t>(Entry().wInputChannels[0]));
    uint32_t dwFeatures[20];
    memset(dwFeatures, 0xAB, sizeof dwFeatures);
    ASSERT_TRUE(Addin().GetFeatures(kMcb, 1, dwFeatures, 20));
    for (int k = 0; k < 20; ++k) EXPECT_EQ(dwFeatures[k], k < 16 ? Entry().dwFeatures[0][k] : 0u) << "word " << k;

    // Channel data comes with the masks identification left.
    ASSERT_EQ(sim("set-counts 0 7 1007 2007 3007"), "ok\n");
    uint32_t dwData[4] = {};
    uint32_t dwMask1 = 0, dwMask2 = 0;
    ASSERT_EQ(Addin().ReadSpectrum(kMcb, 1, &dwMask1, &dwMask2, 0, 0, 4, 0, dwData), 1);
    EXPECT_EQ(dwMask1, 0x7FFFFFFFu);
    EXPECT_EQ(dwMask2, 0x80000000u);
    EXPECT_EQ(dwData[3] & 0x7FFFFFFFu, 3007u);
    EXPECT_EQ(dwData[0] & 0x7FFFFFFFu, 7u);
}

// Out of range, a detector the driver does not serve (KORV serves detector 1
// only), a port without an instrument: every operation answers "invalid",
// stores nothing and leaves the port alone.
TEST_F(Detector, InvalidAddressesAnswerAsSuchAndTouchNeitherPortNorFile) {
    OpenWith("@LOCK=3 owner\r\n");
    struct Address {
        int32_t nMcb;
        int32_t nDet;
    };
    const Address kAddresses[] = {{96, 1}, {102, 1}, {kMcb, 0}, {kMcb, 33}, {kMcb, 2}, {98, 1}};
    const std::string sSections = SectionNames();
    for (const Address& a : kAddresses) {
        SCOPED_TRACE(std::to_string(a.nMcb) + "/" + std::to_string(a.nDet));
        EXPECT_FALSE(Addin().IsValidDetector(a.nMcb, a.nDet));
        int32_t nStatus = 5;
        EXPECT_TRUE(Addin().IsDetectorActive(a.nMcb, a.nDet, &nStatus));
        EXPECT_EQ(nStatus, -1);
        uint32_t dwWords[2] = {7, 7};
        EXPECT_FALSE(Addin().GetFeatures(a.nMcb, a.nDet, dwWords, 2));
        EXPECT_EQ(Addin().ReadSpectrum(a.nMcb, a.nDet, nullptr, nullptr, 0, 0, 2, 0, dwWords), -1);
        EXPECT_EQ(dwWords[0], 7u);
        EXPECT_EQ(Addin().GetChannels(a.nMcb, a.nDet), 0);
        int32_t nMac = 5, nMic = 5;
        EXPECT_EQ(Addin().SetROI(a.nMcb, a.nDet, 10, 20, 0, &nMac, &nMic), -1);
        EXPECT_EQ(nMac + nMic, 0);

        EXPECT_FALSE(Addin().SetDataApp(a.nMcb, a.nDet, "K", "V"));
        char szBuffer[16] = "same";
        EXPECT_EQ(Addin().GetDataApp(a.nMcb, a.nDet, "K", "dflt", szBuffer, sizeof szBuffer), 0);
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
    // A version buffer of an invalid MCB: only its last character changes.
    char szVersion[8];
    memset(szVersion, 'x', sizeof szVersion);
    EXPECT_FALSE(Addin().GetVersion(98, szVersion, sizeof szVersion));
    EXPECT_EQ(std::string(szVersion, 8), std::string("xxxxxxx\0", 8));
    EXPECT_EQ(Addin().GetInputCount(98), 0);
    EXPECT_EQ(heard(), "");
    EXPECT_EQ(SectionNames(), sSections);
    EXPECT_EQ(StoredValue("@LOCK"), "3 owner");
}

// Keys are stored in the detector's section; what fits the buffer is copied
// with its NUL, the length counts what was copied, and nothing beyond the
// size given is touched (none of it for sizes below 1).
TEST_F(Detector, ValuesAreStoredInTheDetectorSectionAndReadBackWithinTheBuffer) {
    OpenWith("Word=hello\r\n");
    struct Case {
        const char* pszKey;
        const char* pszSet;   // null: not set first
        int32_t nSize;
        int32_t nLength;
        const char* pszText;  // null: the buffer is untouched
    };
    const Case kCases[] = {
        {"@DESC", "shelf 3, left", 32, 13, "shelf 3, left"}, {"Operator", "a=b", 32, 3, "a=b"},
        {"Word", nullptr, 0, 0, nullptr}, {"Word", nullptr, -1, 0, nullptr}, {"Word", nullptr, 1, 0, ""},
        {"Word", nullptr, 5, 4, "hell"}, {"Word", nullptr, 6, 5, "hello"}, {"Missing", nullptr, 4, 3, "dfl"},
        {"Missing", nullptr, 32, 4, "dflt"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.pszKey) + " in " + std::to_string(c.nSize));
        if (c.pszSet != nullptr) {
            EXPECT_TRUE(Addin().SetDataApp(kMcb, 1, c.pszKey, c.pszSet));
            EXPECT_EQ(StoredValue(c.pszKey), c.pszSet);
        }
        char szBuffer[40];
        memset(szBuffer, '#', sizeof szBuffer);
        EXPECT_EQ(Addin().GetDataApp(kMcb, 1, c.pszKey, "dflt", szBuffer, c.nSize), c.nLength);
        const size_t nUntouched = c.pszText != nullptr ? static_cast<size_t>(c.nSize) : 0;
        if (c.pszText != nullptr) {
            EXPECT_STREQ(szBuffer, c.pszText);
        }
        EXPECT_EQ(std::string(szBuffer + nUntouched, sizeof szBuffer - nUntouched),
                  std::string(sizeof szBuffer - nUntouched, '#'));
    }
    EXPECT_EQ(heard(), "");
}

TEST_F(Detector, LockStoresIdentifierAndOwnerAndReturnsTheOwnerText) {
    OpenWith();
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
        Addin().SetLock(kMcb, 1, c.dwLockId, c.sOwner.c_str());
        EXPECT_EQ(StoredValue("@LOCK"), c.sStored);
        char szOwner[256];
        memset(szOwner, '#', sizeof szOwner);
        EXPECT_EQ(Addin().GetLock(kMcb, 1, szOwner, c.nOwnerSize), c.dwLockId);
        EXPECT_EQ(std::string(szOwner), c.sReturned);
        EXPECT_EQ(szOwner[c.nOwnerSize], '#');
        EXPECT_EQ(Addin().GetLock(kMcb, 1, nullptr, 0), c.dwLockId);
    }
}

TEST_F(Detector, DescriptionAndIdentifierFallBackToDefaults) {
    OpenWith();
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
        EXPECT_TRUE(Addin().GetDescription(kMcb, 1, szDescription, c.nSize, &bDefault));
        EXPECT_STREQ(szDescription, c.pszDescription);
        EXPECT_EQ(szDescription[c.nSize], '#');
        EXPECT_EQ(bDefault, c.bDescriptionDefault);
        uint32_t dwId = 5;
        bDefault = 9;
        EXPECT_TRUE(Addin().GetDetectorId(kMcb, 1, &dwId, &bDefault));
        EXPECT_EQ(dwId, c.dwId);
        EXPECT_EQ(bDefault, c.bIdDefault);
    }
}

// An instrument without the feature bit is not asked its clock: the start
// time is the one marked, and "now" is the computer's.
TEST_F(Detector, StartTimeIsTheMarkedOneWithoutAskingTheInstrument) {
    OpenWith();
    const int32_t tBefore = Now();
    Addin().MarkStartTime(kMcb, 1, 12345);
    const int32_t tMarked = static_cast<int32_t>(strtol(StoredValue("@START").c_str(), nullptr, 10));
    EXPECT_GE(tMarked, tBefore);
    EXPECT_LE(tMarked, Now());
    int32_t tNow = 0;
    EXPECT_EQ(Addin().LocalGetStartTime(kMcb, 1, &tNow), tMarked);
    EXPECT_GE(tNow, tMarked);
    EXPECT_LE(tNow, Now());
    EXPECT_EQ(Addin().LocalGetStartTime(kMcb, 1, nullptr), tMarked);
    EXPECT_EQ(heard(), "");
}

TEST_F(Detector, EnumerationReloadsLockAndStartAndClearsTheSharedWord) {
    OpenWith();
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
        Addin().SetLock(kMcb, 1, 42, "lab");
        Addin().MarkStartTime(kMcb, 1, 0);
        Addin().SetSharedWord(kMcb, 1, 77);
        EXPECT_EQ(Addin().GetSharedWord(kMcb, 1), 77u);
        Rewrite(c.pszSection);
        char szOwner[32] = "";
        EXPECT_EQ(Addin().GetLock(kMcb, 1, szOwner, sizeof szOwner), 42u);  // the cache, not the file
        EXPECT_STREQ(szOwner, c.pszOwner);

        ASSERT_TRUE(Addin().EnumerateDetectors());
        EXPECT_EQ(Addin().GetLock(kMcb, 1, nullptr, 0), c.dwLockId);
        EXPECT_EQ(Addin().LocalGetStartTime(kMcb, 1, nullptr), c.tStart);
        EXPECT_EQ(Addin().GetSharedWord(kMcb, 1), 0u);
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
