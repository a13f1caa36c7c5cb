// Open and close of the built library across real host processes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

class OpenClose : public ::testing::Test {
protected:
    static AddinBase& Addin() { return TheAddin().addin(); }
    static int32_t Processes() { return *TheAddin().header().m_pnProcesses; }
    static int32_t DeviceType(int nPort) { return TheAddin().header().m_pMcbTable[nPort - 1].nDeviceType; }
    static void WriteIni(const std::string& sText) { TheAddin().writeIni(sText); }
    static std::unique_ptr<ChildProcess> StartHost() {
        TheAddin();  // the children share this process's namespace and directory
        return std::make_unique<ChildProcess>(LINKBAY_HOST_PATH, std::vector<std::string>{"hold"});
    }
};

TEST_F(OpenClose, NestedOpensInOneProcess) {
    ASSERT_EQ(Processes(), 0);
    EXPECT_TRUE(Addin().Open());
    EXPECT_TRUE(Addin().Open());
    EXPECT_EQ(Processes(), 1);
    EXPECT_TRUE(Addin().Close());
    EXPECT_EQ(Processes(), 1);  // still open once
    EXPECT_TRUE(Addin().Close());
    EXPECT_EQ(Processes(), 0);
}

TEST_F(OpenClose, OnlyTheFirstProcessReadsTheConfiguration) {
    WriteIni("[CONFIG]\r\nCOM3=Tavo\r\n");
    auto other = StartHost();
    ASSERT_EQ(other->readLine(), "READY processes=1");
    EXPECT_EQ(DeviceType(3), LINKBAY_DEVICE_TAVO);

    WriteIni("[CONFIG]\r\nCOM3=zeph\r\n");
    ASSERT_TRUE(Addin().Open());
    EXPECT_EQ(Processes(), 2);
    EXPECT_EQ(DeviceType(3), LINKBAY_DEVICE_TAVO);  // not read again
    ASSERT_TRUE(other->writeLine("close"));
    EXPECT_EQ(other->readLine(), "OK processes=1");
    EXPECT_EQ(DeviceType(3), LINKBAY_DEVICE_TAVO);  // kept while a process has it open
    ASSERT_TRUE(Addin().Close());
    EXPECT_EQ(Processes(), 0);

    // The last close reset the count, so the next open reads the file afresh.
    ASSERT_TRUE(Addin().Open());
    EXPECT_EQ(DeviceType(3), LINKBAY_DEVICE_ZEPH);
    ASSERT_TRUE(Addin().Close());
}

// A host killed without Close stops counting at the next Open of another
// process; an Open that finds only ended ones is the first again and reads
// the configuration afresh.
TEST_F(OpenClose, AHostKilledWithoutCloseStopsCountingAtTheNextOpen) {
    struct Case {
        const char* pszName;
        bool bSurvivor;
        int32_t nProcesses;
        int32_t nDeviceType;
    };
    const Case cases[] = {
        {"the killed host was the only one", false, 1, LINKBAY_DEVICE_ZEPH},
        {"a live host stays beside it", true, 2, LINKBAY_DEVICE_TAVO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteIni("[CONFIG]\r\nCOM3=Tavo\r\n");
        auto victim = StartHost();
        ASSERT_EQ(victim->readLine(), "READY processes=1");
        std::unique_ptr<ChildProcess> survivor = c.bSurvivor ? StartHost() : nullptr;
        if (survivor) {
            ASSERT_EQ(survivor->readLine(), "READY processes=2");
        }
        victim->kill();
        EXPECT_NE(victim->wait(), 0);

        WriteIni("[CONFIG]\r\nCOM3=zeph\r\n");
        ASSERT_TRUE(Addin().Open());
        EXPECT_EQ(Processes(), c.nProcesses);
        EXPECT_EQ(DeviceType(3), c.nDeviceType);
        ASSERT_TRUE(Addin().Close());
        if (survivor) {
            survivor->closeInput();
            EXPECT_EQ(survivor->wait(), 0);
        }
        EXPECT_EQ(Processes(), 0);
    }
}

TEST_F(OpenClose, ManyProcessesOpeningAndClosingAtOnceKeepTheCount) {
    constexpr int kHosts = 8;
    for (int nRound = 0; nRound < 3; ++nRound) {
        SCOPED_TRACE(nRound);
        std::vector<std::unique_ptr<ChildProcess>> hosts;
        for (int i = 0; i < kHosts; ++i) hosts.push_back(StartHost());
        for (auto& host : hosts) {
            ASSERT_TRUE(host->started());
            const std::string sLine = host->readLine();
            ASSERT_EQ(sLine.rfind("READY processes=", 0), 0u)
                << "host " << host->pid() << " said '" << sLine << "', exit code " << host->wait(2000);
        }
        // Two processes taking the first-process path would both set the count to 1.
        EXPECT_EQ(Processes(), kHosts);
        for (auto& host : hosts) host->closeInput();
        for (auto& host : hosts) EXPECT_EQ(host->wait(), 0);
        EXPECT_EQ(Processes(), 0);
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
