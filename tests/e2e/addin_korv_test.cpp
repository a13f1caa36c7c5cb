// Host processes against the KORV simulator program: the host program's
// commands, and a port shared, handed over and recovered between processes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/host_process.h"
#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

// The add-in asks a port again only 2000 ms after the last time.
constexpr auto kPastThrottle = std::chrono::milliseconds(2100);
void WaitPastThrottle() { std::this_thread::sleep_for(kPastThrottle); }

std::string FileText(const std::string& sPath) { return ReadRaw(sPath).value_or(""); }

class HostAndSimulator : public ::testing::Test {
protected:
    // Starts a simulator on COM1 in the environment the children will see.
    void StartSimulator() {
        m_pSimulator = std::make_unique<SimulatorProgram>(1);
        ASSERT_TRUE(m_pSimulator->ready()) << m_pSimulator->problem();
        // A version of its own, so the listing shows what the instrument said.
        ASSERT_EQ(m_pSimulator->control("set version 2.25"), "ok\n");
    }

    std::unique_ptr<SimulatorProgram> m_pSimulator;
};

// Each run is the only host, so each reads its DETHUB.INI afresh.

TEST_F(HostAndSimulator, HostCommandsPrintWhatTheInstrumentAnswered) {
    PrivateEnvironment environment;
    StartSimulator();
    ScopedVariable noDevice("LINKBAY_COM2", environment.dir() + "/no-such-device");
    struct Case {
        const char* pszName;
        const char* pszIni;
        std::vector<std::string> args;
        int nExit;
        std::string sPattern;  // regular expression the output must contain
    };
    const Case cases[] = {
        {"list", "[CONFIG]\r\nCOM1=korv\r\n", {"list"}, 0,
         R"(97 +1 +COM1 +KORV +KORV-225 +1 +4096 +MCB 97 +-\n)"},
        {"list, lock and description", "[CONFIG]\r\nCOM1=korv\r\n[M97S01]\r\n@LOCK=42 lab\r\n@DESC=bench\r\n", {"list"}, 0,
         R"(97 +1 +COM1 +KORV +KORV-225 +1 +4096 +bench +42 \(lab\)\n)"},
        {"list, nothing configured", "", {"list"}, 0,
         "no detectors:\n" + environment.dir() + "/DETHUB.INI configures no port: "},
        {"list, silent port", "[CONFIG]\r\nCOM2=Korv\r\n", {"list"}, 0,
         R"(COM2 \(KORV\): \S+/no-such-device does not exist)"},
        {"send", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "97", "1", "SHOW_VERSION"}, 0,
         R"(response:\n  \$FKORV-2250\nerror:  0/0 \(mac/mic\)\nlength: 12\n)"},
        {"send, words joined", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "97", "1", "SET_LIVE_PRESET", "500"}, 0,
         R"(error:  0/0 \(mac/mic\)\n)"},
        {"send, line the parser rejects", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "97", "1", "FROBNICATE"}, 1,
         R"(response: \(none\)\nerror:  129/1 \(mac/mic\)  FAILED\nlength: 0\n)"},
        {"send, line the driver refuses", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "97", "1", "SET_ROI", "100,0"}, 1,
         R"(response: \(none\)\nerror:  131/129 \(mac/mic\)  FAILED\n)"},
        {"send, unconfigured port", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "98", "1", "SHOW_VERSION"}, 1,
         R"(error:  -9/0 \(mac/mic\)  FAILED\n[\s\S]*COM2 is not configured: add COM2=FAMILY)"},
        {"send, MCB out of range", "", {"send", "96", "1", "SHOW_VERSION"}, 2, "^$"},
        {"send, detector not a number", "", {"send", "97", "x", "SHOW_VERSION"}, 2, "^$"},
        {"send, no line", "", {"send", "97", "1"}, 2, "^$"},
        {"list, JSON", "[CONFIG]\r\nCOM1=korv\r\n", {"list", "--json"}, 0,
         R"(^\{"detectors":\[\{"mcb":97,"det":1,"port":"COM1","family":"KORV","version":"KORV-225","inputs":1,)"
         R"("channels":4096,"description":"MCB 97","lock":0,"lock_owner":""\}\],"silent_ports":\[\],)"},
        {"send, JSON", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "--json", "97", "1", "SHOW_VERSION"}, 0,
         R"(^\{"mcb":97,"det":1,"line":"SHOW_VERSION","served":true,"ok":true,"mac":0,"mic":0,"length":12,)"
         R"("records":\["\$FKORV-2250"\],"causes":\[\]\}\n$)"},
        {"send, JSON, refused", "[CONFIG]\r\nCOM1=korv\r\n", {"send", "97", "1", "FROBNICATE", "--json"}, 1,
         R"("ok":false,"mac":129,"mic":1,"length":0,"records":\[\])"},
        {"read, unconfigured port", "[CONFIG]\r\nCOM1=korv\r\n", {"read", "98"}, 1, "^$"},
        {"read, unknown format", "", {"read", "97", "--format", "xml"}, 2, "^$"},
        {"unknown command", "", {"frobnicate"}, 2, "^$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        WriteIni(environment.dir(), c.pszIni);
        const HostRun run = RunHost(c.args, environment.dir() + "/debug.log");
        EXPECT_EQ(run.nExit, c.nExit);
        EXPECT_TRUE(std::regex_search(run.sOutput, std::regex(c.sPattern))) << run.sOutput;
    }
}

// This process is the second host: it duplicates the owner's port, keeps
// using it after the owner closes, and then takes the port over.
TEST_F(HostAndSimulator, TheSecondProcessDuplicatesThePortAndTakesItOverWhenTheOwnerCloses) {
    LoadedAddin& loaded = TheAddin();
    StartSimulator();
    loaded.writeIni("[CONFIG]\r\nCOM1=korv\r\n");
    const McbEntry& entry = loaded.header().m_pMcbTable[0];
    const std::string sOwnerLog = loaded.sDir + "/owner.log";
    auto owner = StartHost({"hold"}, sOwnerLog);
    ASSERT_EQ(owner->readLine(), "READY processes=1");
    EXPECT_NE(FileText(sOwnerLog).find("Linkbay::InterrogateMCB(): Opened COM1 and became owner\r\n"), std::string::npos);
    EXPECT_EQ(entry.dwOwnerPid, static_cast<uint32_t>(owner->pid()));

    WaitPastThrottle();
    AddinBase& addin = loaded.addin();
    ASSERT_TRUE(addin.Open());
    EXPECT_NE(loaded.debugLog().find("Linkbay::InterrogateMCB(): Duplicated COM1\r\n"), std::string::npos);
    EXPECT_EQ(entry.dwOwnerPid, static_cast<uint32_t>(owner->pid()));  // duplicating changes no owner
    char szVersion[16] = "";
    EXPECT_TRUE(addin.GetVersion(97, szVersion, sizeof szVersion));
    EXPECT_STREQ(szVersion, "KORV-225");

    ASSERT_TRUE(owner->writeLine("close"));
    ASSERT_EQ(owner->readLine(), "OK processes=1");
    EXPECT_EQ(entry.dwOwnerPid, 0u);
    char szResponse[64] = "";
    int32_t nMac = -1;
    int32_t nMic = -1;
    EXPECT_TRUE(addin.Dialog(97, 1, "SHOW_VERSION", sizeof szResponse, szResponse, nullptr, &nMac, &nMic));
    EXPECT_STREQ(szResponse, "$FKORV-2250\n");  // the duplicate outlives the owner's handle
    EXPECT_EQ(nMac, 0);

    WaitPastThrottle();
    ASSERT_TRUE(addin.EnumerateDetectors());
    EXPECT_EQ(entry.dwOwnerPid, static_cast<uint32_t>(getpid()));
    EXPECT_TRUE(addin.Dialog(97, 1, "SHOW_VERSION", sizeof szResponse, szResponse, nullptr, &nMac, &nMic));
    EXPECT_STREQ(szResponse, "$FKORV-2250\n");
    ASSERT_TRUE(addin.Close());
    EXPECT_EQ(entry.dwOwnerPid, 0u);
    owner->closeInput();
    EXPECT_EQ(owner->wait(), 0);
}

// However the port's owner ends, a third host reaches the instrument at its
// first interrogation: through the port of a process that still holds it,
// else by opening it itself. The counts read are the simulator's own.
TEST(HandOver, AThirdHostReachesTheInstrumentAfterTheOwnerHasGone) {
    struct Case {
        const char* pszName;
        bool bKillOwner;
        bool bSecondHoldsPort;
        const char* pszThirdGotPort;  // the third host's debug line
    };
    const Case cases[] = {
        {"owner quits, second holds the port", false, true, "Duplicated COM1"},
        {"owner killed, second holds the port", true, true, "Duplicated COM1"},
        {"owner killed, nobody else holds the port", true, false, "Opened COM1 and became owner"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        PrivateEnvironment environment;
        SimulatorProgram simulator(1);
        ASSERT_TRUE(simulator.ready()) << simulator.problem();
        ASSERT_EQ(simulator.control("set-counts 0 5 17 0 4242 9 1 77 3"), "ok\n");
        WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=korv\r\n");
        auto owner = StartHost({"hold"}, environment.dir() + "/owner.log");
        ASSERT_EQ(owner->readLine(), "READY processes=1");
        WaitPastThrottle();
        // Without the port, the second keeps the shared table alive all the same.
        auto second = StartHost(c.bSecondHoldsPort ? std::vector<std::string>{"hold"}
                                                   : std::vector<std::string>{"hold", "--no-open"},
                                environment.dir() + "/second.log");
        ASSERT_EQ(second->readLine(), c.bSecondHoldsPort ? "READY processes=2" : "READY processes=1");
        if (c.bKillOwner) owner->kill();
        owner->closeInput();
        EXPECT_EQ(owner->wait(), c.bKillOwner ? 128 + SIGKILL : 0);

        WaitPastThrottle();
        const std::string sThirdLog = environment.dir() + "/third.log";
        auto third = StartHost({"hold"}, sThirdLog);
        ASSERT_EQ(third->readLine().rfind("READY", 0), 0u);
        ASSERT_TRUE(third->writeLine("read 97 1 0 8"));
        const std::string sHeld = simulator.control("counts 0 8");
        EXPECT_EQ(third->readLine(), "OK result=1 " + sHeld.substr(3, sHeld.size() - 4));  // 1: done
        EXPECT_NE(FileText(sThirdLog).find(std::string("Linkbay::InterrogateMCB(): ") + c.pszThirdGotPort + "\r\n"),
                  std::string::npos)
            << FileText(sThirdLog);
    }
}

// A host killed in the middle of an exchange, holding the add-in's mutex,
// leaves it abandoned: the next process takes it and goes on.
TEST_F(HostAndSimulator, AHostKilledInTheMiddleOfAnExchangeDoesNotStopTheOthers) {
    PrivateEnvironment environment;
    StartSimulator();
    WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=korv\r\n");
    SimulatorProgram& instrument = *m_pSimulator;
    auto owner = StartHost({"hold"}, environment.dir() + "/owner.log");
    ASSERT_EQ(owner->readLine(), "READY processes=1");

    // The next reply stops half-way for long enough to kill its reader.
    ASSERT_EQ(instrument.control("fault next stall 10000").compare(0, 2, "ok"), 0);
    const std::string sServed = instrument.control("exchanges");
    WaitPastThrottle();
    auto victim = StartHost({"send", "97", "1", "SHOW_VERSION"}, environment.dir() + "/victim.log");
    const long long nDeadline = NowMs() + 10000;
    while (instrument.control("exchanges") == sServed && NowMs() < nDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(instrument.control("exchanges"), sServed) << "the victim never reached the instrument";
    victim->kill();
    EXPECT_EQ(victim->wait(), 128 + SIGKILL);

    WaitPastThrottle();  // the victim's interrogation was the last
    const long long nStart = NowMs();
    const HostRun after = RunHost({"send", "97", "1", "SHOW_VERSION"}, environment.dir() + "/after.log");
    EXPECT_EQ(after.nExit, 0) << after.sOutput;
    EXPECT_NE(after.sOutput.find("$FKORV-2250"), std::string::npos) << after.sOutput;
    EXPECT_LT(NowMs() - nStart, 9000) << "waited for the stalled reply instead of taking the mutex";
    owner->closeInput();
    EXPECT_EQ(owner->wait(), 0);
}

// The demo leaves nothing behind in its temporary directory's parent,
// whether it runs to the end or is interrupted while it waits.
TEST(HostDemo, RunsToTheEndOrStopsOnInterruptAndCleansUp) {
    PrivateEnvironment environment;
    ScopedVariable temporary("TMPDIR", environment.dir());
    struct Case {
        const char* pszName;
        bool bInterrupt;
        int nExit;
        const char* pszLastLine;
    };
    const Case cases[] = {
        {"to the end", false, 0, "demo finished: simulators stopped, temporary files removed"},
        {"interrupted", true, 128 + SIGINT, "interrupted: simulators stopped, temporary files removed"},
    };
    // What a demo killed outright left is swept by the next; a live one's folder stays.
    const pid_t nGone = fork();
    if (nGone == 0) _exit(0);
    ASSERT_EQ(waitpid(nGone, nullptr, 0), nGone);
    const std::string sLeft = environment.dir() + "/linkbay-demo-" + std::to_string(nGone) + "-x";
    const std::string sLive = "linkbay-demo-" + std::to_string(getpid()) + "-x";
    ASSERT_EQ(mkdir(sLeft.c_str(), 0700), 0);
    WriteRaw(sLeft + "/DETHUB.INI", "[CONFIG]\n");
    ASSERT_EQ(mkdir((environment.dir() + "/" + sLive).c_str(), 0700), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        ChildProcess demo(LINKBAY_HOST_PATH, {"demo"});
        std::string sOutput;
        std::string sLast;
        bool bInterrupted = false;
        const long long nDeadline = NowMs() + 60000;
        while (!demo.outputEnded() && NowMs() < nDeadline) {
            const std::string sLine = demo.readLine(1000);
            sOutput += sLine + "\n";
            if (!sLine.empty()) sLast = sLine;
            if (c.bInterrupt && !bInterrupted && sLine.find("acquiring") != std::string::npos)
                bInterrupted = ::kill(demo.pid(), SIGINT) == 0;
        }
        EXPECT_EQ(demo.wait(30000), c.nExit) << sOutput;
        EXPECT_EQ(sLast, c.pszLastLine) << sOutput;
        std::smatch com1;
        ASSERT_TRUE(std::regex_search(sOutput, com1, std::regex("97 +1 +COM1 +KORV"))) << sOutput;
        EXPECT_TRUE(std::regex_search(com1.suffix().str(), std::regex("99 +1 +COM3 +KORV"))) << sOutput;
        EXPECT_EQ(std::regex_search(sOutput, std::regex("counts in total, peak at channel")), !c.bInterrupt);
        for (const std::string& sEntry : DirectoryEntries(environment.dir()))
            EXPECT_TRUE(sEntry.rfind("linkbay-demo-", 0) != 0 || sEntry == sLive) << sEntry;
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
