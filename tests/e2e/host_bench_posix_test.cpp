// The host program's bench commands against simulated instruments of every
// family. Spectrum files are read back by tests/e2e/spectrum_file_reader.py,
// which shares no code with the host, and compared with what the simulator
// holds.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/host_process.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/sim_program.h"

namespace linkbay {
namespace test {
namespace {

struct FamilyCase {
    const char* pszModel;
    const char* pszKeyword;
    int nPort;
    size_t nChannels;     // the memory's, which the conversion gain uses at start
    const char* pszRois;  // TAVO and PELLUX keep ROIs in the instrument: no flags in their channel words
    bool bComputerClock;  // ZEPH's start is the computer's clock at START, not the instrument's
};
const FamilyCase kFamilies[] = {
    {"korv", "KORV", 1, 4096, "100-119", false},
    {"zeph", "ZEPH", 2, 4096, "100-119", true},
    {"tavo", "TAVO", 4, 16384, "none", false},
    {"pellux", "PELLUX", 5, 16384, "none", false},
};
constexpr const char* kInstrumentClock = "2026-03-01 12:00:05";

// Seconds of a wall-clock time "YYYY-MM-DD?hh:mm:ss", counted as if UTC; -1 when it is none.
long long WallSeconds(const std::string& sTime) {
    tm fields{};
    if (sscanf(sTime.c_str(), "%d-%d-%d%*c%d:%d:%d", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
               &fields.tm_hour, &fields.tm_min, &fields.tm_sec) != 6)
        return -1;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    return static_cast<long long>(timegm(&fields));
}

long long ComputerWallSeconds() {
    const time_t tNow = time(nullptr);
    tm local{};
    localtime_r(&tNow, &local);
    return static_cast<long long>(timegm(&local));
}

std::string McbOf(int nPort) { return std::to_string(96 + nPort); }

// "key rest of the line" for each line a checking script prints.
std::map<std::string, std::string> ReadBack(const std::string& sPath, const char* pszScript = LINKBAY_SPECTRUM_READER) {
    ChildProcess reader(pszScript, {sPath});
    std::map<std::string, std::string> items;
    std::istringstream lines(Finish(reader).sOutput);
    for (std::string sLine; std::getline(lines, sLine);) {
        const size_t nSpace = sLine.find(' ');
        items[sLine.substr(0, nSpace)] = nSpace == std::string::npos ? "" : sLine.substr(nSpace + 1);
    }
    return items;
}

// What the instrument answers to a line, a $G count of 20 ms ticks, as seconds: each family
// counts in its own steps (KORV in whole seconds), so the file is held to the instrument's answer.
std::string ShownSeconds(const std::string& sMcb, const char* pszLine, const std::string& sLog) {
    const std::string sOutput = RunHost({"send", sMcb, "1", pszLine}, sLog).sOutput;
    const size_t nAt = sOutput.find("$G");
    if (nAt == std::string::npos) return "<no record in " + sOutput + ">";
    char szText[32];
    snprintf(szText, sizeof szText, "%.2f", std::stoull(sOutput.substr(nAt + 2, 10)) * 0.02);
    return szText;
}

TEST(HostBench, EveryFormatOfEveryFamilyReadsBackAsTheInstrumentHoldsIt) {
    PrivateEnvironment environment;
    const std::string sLog = environment.dir() + "/debug.log";
    for (const FamilyCase& family : kFamilies) {
        SCOPED_TRACE(family.pszModel);
        SimulatorProgram simulator(family.nPort, {"--no-pacing"}, family.pszModel);
        ASSERT_TRUE(simulator.ready()) << simulator.problem();
        WriteIni(environment.dir(), "[CONFIG]\r\nCOM" + std::to_string(family.nPort) + "=" + family.pszKeyword + "\r\n");
        ASSERT_EQ(simulator.control(std::string("date ") + kInstrumentClock), "ok\n");
        const std::string sMcb = McbOf(family.nPort);
        const long long nStart = family.bComputerClock ? ComputerWallSeconds() : WallSeconds(kInstrumentClock);
        for (const char* pszLine : {"START", "SET_ROI 100,20", "STOP"})
            ASSERT_EQ(RunHost({"send", sMcb, "1", pszLine}, sLog).nExit, 0) << pszLine;
        std::string sCounts = simulator.control("counts 0 " + std::to_string(family.nChannels));
        sCounts = sCounts.substr(3, sCounts.size() - 4);  // past "ok ", before the line feed
        const std::pair<std::string, std::string> times = {ShownSeconds(sMcb, "SHOW_LIVE", sLog),
                                                            ShownSeconds(sMcb, "SHOW_TRUE", sLog)};

        struct FormatCase {
            const char* pszExtension;
            bool bHasTimes;
        };
        for (const FormatCase& format : {FormatCase{"csv", false}, FormatCase{"spe", true},
                                         FormatCase{"n42", true}, FormatCase{"json", true}}) {
            SCOPED_TRACE(format.pszExtension);
            const std::string sPath = environment.dir() + "/spectrum." + format.pszExtension;
            const HostRun run = RunHost({"read", sMcb, "--output", sPath}, sLog);
            ASSERT_EQ(run.nExit, 0) << run.sOutput;
            std::map<std::string, std::string> items = ReadBack(sPath);
            EXPECT_EQ(items["channels"], std::to_string(family.nChannels));
            EXPECT_TRUE(items["counts"] == sCounts) << "the counts differ from the simulator's";
            EXPECT_EQ(items["live"], format.bHasTimes ? times.first : "none");
            EXPECT_EQ(items["true"], format.bHasTimes ? times.second : "none");
            if (format.bHasTimes)
                EXPECT_NEAR(WallSeconds(items["start"]), nStart, 2) << items["start"];
            else
                EXPECT_EQ(items["start"], "none");
            EXPECT_EQ(items["rois"], format.bHasTimes ? family.pszRois : "none");
        }
    }
}

// What happens to the run while it acquires.
enum class During { Nothing, Interrupt, PortVanishes };

TEST(HostBench, AcquireStopsAtThePresetOrOnInterruptAndLeavesNoFileOfALostInstrument) {
    PrivateEnvironment environment;
    struct Case {
        const char* pszName;
        std::vector<std::string> args;
        During during;
        int nExit;
        std::vector<std::string> files;  // written, in the test's directory
    };
    const Case cases[] = {
        {"live preset", {"acquire", "97", "--live", "2", "--clear", "-o", "live.json"}, During::Nothing, 0, {"live.json"}},
        {"true preset, two instruments", {"acquire", "97", "98", "1", "--true", "2", "--clear", "-o", "two.json"},
         During::Nothing, 0, {"two-97.json", "two-98.json"}},
        {"interrupted", {"acquire", "97", "--live", "1000", "--clear", "-o", "stopped.json"}, During::Interrupt, 0,
         {"stopped.json"}},
        {"port vanishes", {"acquire", "97", "--live", "1000", "--clear", "-o", "lost.json"}, During::PortVanishes, 1, {}},
        {"no preset", {"acquire", "97"}, During::Nothing, 2, {}},
        {"not an MCB", {"acquire", "97", "102", "--live", "1"}, During::Nothing, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        // Time runs 20 times faster: a preset of 2 s takes a tenth of one.
        SimulatorProgram korv(1, {"--no-pacing", "--time-scale", "20"}, "korv");
        SimulatorProgram zeph(2, {"--no-pacing", "--time-scale", "20"}, "zeph");
        ASSERT_TRUE(korv.ready() && zeph.ready()) << korv.problem() << zeph.problem();
        WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=KORV\r\nCOM2=ZEPH\r\n");
        std::vector<std::string> args = c.args;
        for (std::string& sArg : args)
            if (sArg.find(".json") != std::string::npos) sArg = environment.dir() + "/" + sArg;
        auto host = StartHost(args, environment.dir() + "/debug.log");
        if (c.during != During::Nothing) {
            ASSERT_NE(host->readLine().find("acquiring MCB 97"), std::string::npos);
            if (c.during == During::Interrupt) ::kill(host->pid(), SIGINT);
            if (c.during == During::PortVanishes) korv.control("quit");
        }
        const HostRun run = Finish(*host);
        EXPECT_EQ(run.nExit, c.nExit) << run.sOutput;
        std::vector<std::string> written;
        for (const std::string& sName : DirectoryEntries(environment.dir()))
            if (sName.find(".json") != std::string::npos) written.push_back(sName);
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, c.files);
        for (const std::string& sName : c.files) {
            std::map<std::string, std::string> items = ReadBack(environment.dir() + "/" + sName);
            EXPECT_GE(std::stod(items["live"]), c.during == During::Nothing ? 1.9 : 0.02) << sName;
            std::remove((environment.dir() + "/" + sName).c_str());
        }
        if (c.during != During::PortVanishes) {
            EXPECT_EQ(korv.control("status").substr(0, 14), "ok acquiring=0");
        }
    }
}

// Pictures are read back by tests/e2e/picture_check.py, which counts the
// pixels (PNG) or shapes (SVG) of the ROI shading's and the counts' colours.
TEST(HostBench, PlotDrawsPngAndSvgOfAFileOrAnInstrumentWithItsRoisShaded) {
    PrivateEnvironment environment;
    SimulatorProgram korv(1, {"--no-pacing"}, "korv");
    ASSERT_TRUE(korv.ready()) << korv.problem();
    WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=KORV\r\n");
    const std::string sDir = environment.dir() + "/";
    const std::string sLog = sDir + "debug.log";
    std::string sSetCounts = "set-counts 0";
    for (int c = 0; c < 400; ++c) sSetCounts += " " + std::to_string(50 + (c >= 100 && c < 120 ? 900 : c % 7));
    ASSERT_EQ(korv.control(sSetCounts), "ok\n");
    ASSERT_EQ(RunHost({"send", "97", "1", "SET_ROI", "100,20"}, sLog).nExit, 0);
    for (const char* pszFile : {"with-roi.spe", "no-roi.csv"})
        ASSERT_EQ(RunHost({"read", "97", "-o", sDir + pszFile}, sLog).nExit, 0) << pszFile;
    struct Case {
        const char* pszName;
        std::vector<std::string> args;
        int nExit;
        const char* pszPicture;
        int nWidth;
        int nHeight;
        bool bRoi;
    };
    const Case cases[] = {
        {"PNG of an SPE file, logarithmic",
         {"plot", sDir + "with-roi.spe", "-o", sDir + "a.png", "--width", "640", "--height", "360", "--log"}, 0, "a.png",
         640, 360, true},
        {"SVG of the instrument", {"plot", "97", "-o", sDir + "b.svg"}, 0, "b.svg", 1000, 600, true},
        {"PNG of a CSV file, which has no ROIs", {"plot", sDir + "no-roi.csv", "-o", sDir + "c.png"}, 0, "c.png", 1000,
         600, false},
        {"not a picture's extension", {"plot", sDir + "no-roi.csv", "-o", sDir + "d.gif"}, 1, nullptr, 0, 0, false},
        {"too small", {"plot", "97", "--width", "20"}, 2, nullptr, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        const HostRun run = RunHost(c.args, sLog);
        EXPECT_EQ(run.nExit, c.nExit) << run.sOutput;
        if (c.pszPicture == nullptr) continue;
        std::map<std::string, std::string> items = ReadBack(sDir + c.pszPicture, LINKBAY_PICTURE_CHECK);
        EXPECT_EQ(items["width"], std::to_string(c.nWidth));
        EXPECT_EQ(items["height"], std::to_string(c.nHeight));
        EXPECT_EQ(std::stoi("0" + items["roi"]) > 0, c.bRoi) << items["roi"];
        EXPECT_GT(std::stoi("0" + items["counts"]), 0);
    }
    EXPECT_FALSE(ReadRaw(sDir + "d.gif").has_value());
}

// The shell on a pseudo-terminal of its own, as a person at a terminal has it.
class TerminalSession {
public:
    explicit TerminalSession(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {LINKBAY_HOST_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& sArg : argv) pointers.push_back(sArg.data());
        pointers.push_back(nullptr);
        m_pid = forkpty(&m_fd, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            execv(pointers[0], pointers.data());
            _exit(127);
        }
    }
    ~TerminalSession() {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) ::kill(m_pid, SIGKILL);
        if (m_pid > 0) waitpid(m_pid, nullptr, 0);
        if (m_fd >= 0) close(m_fd);
    }
    void type(const std::string& sKeys) { EXPECT_EQ(write(m_fd, sKeys.data(), sKeys.size()), static_cast<ssize_t>(sKeys.size())); }
    // Waits until the screen's text since the last match holds the pattern.
    bool waitFor(const std::string& sPattern, std::string& sSeen) {
        const std::regex pattern(sPattern);
        const long long nDeadline = NowMs() + 10000;
        std::smatch match;
        while (!std::regex_search(m_sText, match, pattern)) {
            pollfd pfd{m_fd, POLLIN, 0};
            char buffer[4096];
            const ssize_t nRead = poll(&pfd, 1, 100) > 0 ? read(m_fd, buffer, sizeof buffer) : 0;
            if (nRead > 0) m_sText.append(buffer, static_cast<size_t>(nRead));
            if (nRead < 0 || NowMs() > nDeadline) {
                sSeen = m_sText;
                return false;
            }
        }
        m_sText = match.suffix();
        return true;
    }
    int exitCode() {
        int nStatus = 0;
        return waitpid(m_pid, &nStatus, 0) == m_pid && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_sText;
};

TEST(HostBench, TheShellCompletesRecallsDecodesAndExplainsOnATerminal) {
    PrivateEnvironment environment;
    SimulatorProgram korv(1, {"--no-pacing"}, "korv");
    ASSERT_TRUE(korv.ready()) << korv.problem();
    ASSERT_EQ(korv.control("set version 2.25"), "ok\n");
    WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=KORV\r\n");
    TerminalSession shell({"shell", "97"});
    struct Step {
        const char* pszName;
        std::string sKeys;
        std::string sPattern;  // what the screen shows next
    };
    const Step steps[] = {
        {"prompt", "", "KORV KORV-225 on COM1[^\n]*\n[\\s\\S]*97/1> "},
        // The line editor writes the completed part after moving the cursor back.
        {"a word completed", "SHOW_VERS\t", "SHOW_VERS[^\n]*\x1b\\[[0-9]+GION"},
        {"its answer, decoded", "\r", R"(\$FKORV-2250 +text "KORV-2250"\s+error 0/0: done)"},
        {"a preset set", "SET_LIVE_PRESET 150\r", "error 0/0: done"},
        {"the words of a prefix listed", "SHOW_LIVE\t\t", "SHOW_LIVE +SHOW_LIVE_PRESET"},
        {"a $G record as seconds", "_PRESET\r", R"(\$G0000000150\d{3} +150 ticks = 3.00 s)"},
        {"a refused line explained", "FROBNICATE\r", "error 129/1: the command words are not known: the verb"},
        {"history: two lines back", "\x1b[A\x1b[A\r", R"(150 ticks = 3.00 s)"},
        {"the end", "quit\r", ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.pszName);
        shell.type(step.sKeys);
        std::string sSeen;
        ASSERT_TRUE(shell.waitFor(step.sPattern, sSeen)) << sSeen;
    }
    EXPECT_EQ(shell.exitCode(), 1);  // one line was refused
}

TEST(HostBench, TheShellReadsAScriptFromStandardInput) {
    PrivateEnvironment environment;
    SimulatorProgram korv(1, {"--no-pacing"}, "korv");
    ASSERT_TRUE(korv.ready()) << korv.problem();
    WriteIni(environment.dir(), "[CONFIG]\r\nCOM1=KORV\r\n");
    ASSERT_EQ(korv.control("date 2026-03-01 12:00:05"), "ok\n");
    auto shell = StartHost({"shell", "97", "1"}, environment.dir() + "/debug.log");
    for (const char* pszLine : {"START", "SHOW_DATE_START", "SET_ROI 100,0", "quit"}) shell->writeLine(pszLine);
    const HostRun run = Finish(*shell);
    EXPECT_EQ(run.nExit, 1) << run.sOutput;
    EXPECT_TRUE(std::regex_search(run.sOutput, std::regex(
        R"(^97/1> START\n  error 0/0: done\n97/1> SHOW_DATE_START\n  \$N001003026\d{3} +date 01.03.26 \(day, month, year )"
        R"(of the century\)\n  error 0/0: done\n97/1> SET_ROI 100,0\n  error 131/129: argument 2 is out of range\n)")))
        << run.sOutput;
}

}  // namespace
}  // namespace test
}  // namespace linkbay
