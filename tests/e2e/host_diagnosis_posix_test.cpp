// The host program as a lab meets it: a second host inside the interrogation
// interval, each reason for "no detectors" named, and an add-in that could
// not set up what processes share.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "e2e/host_process.h"
#include "support/child_process.h"
#include "support/pty_peer.h"
#include "support/sim_program.h"

namespace linkbay {
namespace test {
namespace {

bool Contains(const std::string& sText, const std::string& sPattern) {
    return std::regex_search(sText, std::regex(sPattern));
}

// A host that has just interrogated COM1 keeps the port; the next host
// within 2 s finds nothing at first and must wait the interval out.
TEST(HostInterval, ADetectorCommandRightAfterAnotherHostSucceeds) {
    PrivateEnvironment environment;
    SimulatorProgram simulator(1);
    ASSERT_TRUE(simulator.ready()) << simulator.problem();
    WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=korv\r\n");
    const struct {
        std::vector<std::string> args;
        const char* pszPattern;
    } cases[] = {
        {{"send", "97", "1", "SHOW_VERSION"}, R"(response:\n  \$FKORV-)"},
        {{"read", "97", "--format", "csv"}, "(^|\n)channel,counts\n0,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        auto holder = StartHost({"hold"}, environment.dir() + "/holder.log");
        ASSERT_EQ(holder->readLine(), "READY processes=1");
        const HostRun run = RunHostWithErrors(c.args, environment.dir() + "/debug.log");
        EXPECT_EQ(run.nExit, 0) << run.sOutput;
        EXPECT_TRUE(Contains(run.sOutput, c.pszPattern)) << run.sOutput;
        holder->writeLine("quit");
        EXPECT_EQ(holder->wait(), 0);
    }
}

enum class Ini { Absent, Directory, NoPorts, Zeph };
enum class Device { Unset, Missing, RegularFile, HeldPty, SilentPty };

// Each cause is looked for in the listing and in the answer to a command
// line; {pid} stands for the process that holds the port.
TEST(HostCauses, EachReasonForNoDetectorIsNamed) {
    const struct {
        const char* pszName;
        Ini ini;
        Device device;
        const char* pszCause;
    } cases[] = {
        {"no INI", Ini::Absent, Device::Unset, "/DETHUB.INI does not exist: create it"},
        // Root reads any file: a directory in its place is what cannot be read.
        {"unreadable INI", Ini::Directory, Device::Unset, R"(/DETHUB.INI cannot be read \(Is a directory\))"},
        {"no ports", Ini::NoPorts, Device::Unset, "/DETHUB.INI configures no port: add a \\[CONFIG\\] section"},
        {"device missing", Ini::Zeph, Device::Missing, R"(COM1 \(ZEPH\): \S+/no-such-device does not exist)"},
        {"not a terminal", Ini::Zeph, Device::RegularFile,
         R"(COM1 \(ZEPH\): \S+/plain-file is not a serial line \(a regular file\))"},
        {"held by another program", Ini::Zeph, Device::HeldPty,
         R"(COM1 \(ZEPH\): /dev/pts/\d+ is held by another program \(process {pid}, linkbay_platfor)"},
        {"nothing answers", Ini::Zeph, Device::SilentPty,
         R"(COM1 \(ZEPH\): /dev/pts/\d+ is there, but no ZEPH instrument answered)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        PrivateEnvironment environment;
        ScopedVariable port("LINKBAY_COM1", environment.dir() + "/no-such-device");
        const std::string sIni = environment.dir() + "/DETHUB.INI";
        if (c.ini == Ini::Directory) {
            ASSERT_EQ(mkdir(sIni.c_str(), 0755), 0);
        }
        if (c.ini == Ini::NoPorts) WriteIni(environment.dir(), "[CONFIG]\r\nCOMMCBS=0\r\n");
        if (c.ini == Ini::Zeph) WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=ZEPH\r\n");
        if (c.device == Device::RegularFile) {
            std::ofstream(environment.dir() + "/plain-file") << "not a line\n";
            ASSERT_TRUE(BindPortToPath(1, environment.dir() + "/plain-file"));
        }
        PtyPeer peer;
        std::unique_ptr<ChildProcess> holder;
        if (c.device == Device::HeldPty || c.device == Device::SilentPty) peer.bindToPort(1);
        if (c.device == Device::HeldPty) {
            holder = std::make_unique<ChildProcess>(std::vector<std::string>{"open-port", "1"});
            ASSERT_EQ(holder->readLine().compare(0, 7, "OPENED "), 0);
        }
        const std::string sCause =
            std::regex_replace(c.pszCause, std::regex("\\{pid\\}"), holder ? std::to_string(holder->pid()) : "");
        const HostRun list = RunHostWithErrors({"list"}, environment.dir() + "/debug.log");
        EXPECT_EQ(list.nExit, 0);
        EXPECT_TRUE(Contains(list.sOutput, "no detectors:\n[^\n]*" + sCause)) << list.sOutput;
        const HostRun send = RunHostWithErrors({"send", "97", "1", "SHOW_VERSION"}, environment.dir() + "/debug.log");
        EXPECT_EQ(send.nExit, 1);
        EXPECT_TRUE(Contains(send.sOutput, "-9/0[\\s\\S]*\n[^\n]*" + sCause)) << send.sOutput;
    }
}

// An IPC directory that others could write into is refused by the add-in,
// which is then without its named mutex and shared area: every command that
// opens it stops, info after showing what it has.
TEST(HostSharing, TheHostStopsWhenTheAddinHasNoSharedLock) {
    PrivateEnvironment environment;
    const std::string sIpcDir = environment.dir() + "/ipc";
    ASSERT_EQ(mkdir(sIpcDir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(sIpcDir.c_str(), 0755), 0);  // whatever the umask left
    ScopedVariable ipc("LINKBAY_IPC_DIR", sIpcDir);
    const struct {
        std::vector<std::string> args;
        const char* pszPattern;
    } cases[] = {
        {{"list"}, "^linkbay: stopped: the add-in runs with no shared lock"},
        {{"send", "97", "1", "SHOW_VERSION"}, "^linkbay: stopped: the add-in runs with no shared lock"},
        {{"info"}, "mutex +NOT OPEN\n[\\s\\S]*linkbay: stopped: [^\n]*LINKBAY_DEBUG_OUTPUT=stderr to see why\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const HostRun run = RunHostWithErrors(c.args, environment.dir() + "/debug.log");
        EXPECT_EQ(run.nExit, 1);
        EXPECT_TRUE(Contains(run.sOutput, c.pszPattern)) << run.sOutput;
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
