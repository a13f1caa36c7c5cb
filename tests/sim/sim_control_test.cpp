// The control protocol over loopback TCP: in this process, and against the
// simulator program running as its own process.
#include <gtest/gtest.h>

#include <memory>

#include "sim/control_server.h"
#include "sim_test_support.h"
#include "support/child_process.h"
#include "support/file_text.h"

namespace linkbay {
namespace test {
namespace {

TEST(SimControl, BadCommandsGetAnErrorThatSaysWhatIsExpected) {
    struct Case {
        std::string line;
        std::string reply;
    };
    const Case cases[] = {
        {"", "err empty command; try 'help'\n"},
        {"frobnicate", "err unknown command 'frobnicate'; try 'help'\n"},
        {"fault 0 stall", "err exchange must be 'next' or a number from 1 ('exchanges' tells how many were served)\n"},
        {"fault next bogus", "err unknown fault 'bogus': silence, short, stall, garbage, reject, hangup or reply\n"},
        {"fault next stall x", "err N must be a number up to 600000\n"},
        {"fault next reject 0 0", "err COUNT must be a number from 1 to 1000\n"},
        {"counts 18446744073709551615 2", "err usage: counts FIRST N (channels 0 to 4095)\n"},
        {"set-counts 4095 1 2", "err usage: set-counts FIRST V... (channels 0 to 4095)\n"},
        {"set-counts 0 4294967296", "err count '4294967296' is not a number from 0 to 4294967295\n"},
        {"counts 0 4097", "err usage: counts FIRST N (channels 0 to 4095)\n"},
        {"width 3", "err usage: width 1|2|4|auto\n"},
        {"announce 0", "err usage: announce N|auto (N from 1 to 65535)\n"},
        {"advance -5", "err usage: advance MS (up to 3600000)\n"},
        {"set live-percent 101", "err cannot set live-percent to 101\n"},
        {"reg 04", "err usage: reg XX, XX the hexadecimal opcode of a setting (01 to 1F)\n"},
        {"log x", "err SINCE must be a sequence number, as 'mark' gives\n"},
        // Numbers are decimal or 0x hexadecimal, and the whole word.
        {"fault \v-1 reject", "err exchange must be 'next' or a number from 1 ('exchanges' tells how many were served)\n"},
        {std::string("advance 5\0009", 11), "err usage: advance MS (up to 3600000)\n"},
        {"set-counts 0 010 0x1F", "ok\n"},
        {"counts 0 2", "ok 10 31\n"},
        // Every pulse is drawn: a higher rate would stall the line for seconds an hour.
        {"set rate 100000", "err cannot set rate to 100000\n"},
        {"fault 18446744073709551615 reject 0 2", "err K + COUNT - 1 must not pass 18446744073709551615\n"},
        {"reg 03", "ok 4096\n"},
        // The common 'set' names come first, then the family's.
        {"set nosuch 1", "err no setting 'nosuch': live-percent, rate, battery, version, serial, active-bits\n"},
    };
    auto simulator = StartKorv(Unpaced());
    sim::ControlServer server(*simulator);
    std::string error;
    ASSERT_TRUE(server.start(0, error)) << error;
    ControlClient client;
    ASSERT_TRUE(client.connect(server.port(), server.token()));
    for (const Case& c : cases) EXPECT_EQ(client.command(c.line), c.reply) << c.line;
    // The plan is bounded: ten thousand faults, then a refusal until it is cleared.
    for (int n = 1; n <= 10000; n += 1000) {
        EXPECT_EQ(client.command("fault " + std::to_string(n) + " reject 0 1000"), "ok " + std::to_string(n) + "\n");
    }
    EXPECT_EQ(client.command("fault next reject"),
              "err the plan holds 10000 faults at most; 'clear-faults' forgets them\n");
    EXPECT_EQ(client.command("clear-faults"), "ok\n");
    EXPECT_EQ(client.command("fault next reject"), "ok 1\n");
    // A line without end that outgrows the limit costs the connection, not the simulator.
    const std::string flood(2 << 20, 'x');
    EXPECT_EQ(client.command(flood).find("err line longer than 1 MiB"), 0u);
    ControlClient again;
    ASSERT_TRUE(again.connect(server.port(), server.token()));
    EXPECT_EQ(again.command("exchanges"), "ok 0\n");
}

// Another local user reaches the loopback port too: without the starter's
// token a connection gets nothing done, and cannot end the simulator.
TEST(SimControl, AConnectionWithoutTheTokenIsRefused) {
    auto simulator = StartKorv(Unpaced());
    sim::ControlServer server(*simulator);
    server.quitWhenFirstClientLeaves();
    std::string error;
    ASSERT_TRUE(server.start(0, error)) << error;
    ASSERT_EQ(server.token().size(), 32u);
    const std::string firstLines[] = {"quit", "token", "token " + server.token() + "0",
                                      "token " + server.token().substr(1), " token " + server.token()};
    for (const std::string& line : firstLines) {
        ControlClient stranger;
        ASSERT_TRUE(stranger.connect(server.port()));
        EXPECT_EQ(stranger.command(line).find("err this control port takes commands only from its starter"), 0u)
            << line;
        EXPECT_EQ(stranger.command("exchanges").rfind("<", 0), 0u) << "not closed after " << line;
    }
    EXPECT_FALSE(simulator->quitRequested());
    {
        ControlClient starter;
        ASSERT_TRUE(starter.connect(server.port(), server.token()));
        EXPECT_EQ(starter.command("exchanges"), "ok 0\n");
    }
    EXPECT_TRUE(Eventually([&] { return simulator->quitRequested(); })) << "the starter's connection is the lifeline";
}

#ifdef LINKBAY_SIM_PATH
// The simulator program, its messages among its output as a shell shows them.
std::unique_ptr<ChildProcess> RunSimulator(const std::vector<std::string>& arguments) {
    std::vector<std::string> args{"-c", "exec \"$0\" \"$@\" 2>&1", LINKBAY_SIM_PATH};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>("/bin/sh", args);
}

TEST(SimControl, TheSimulatorProgramIsDrivenFromAnotherProcess) {
    char directory[] = "/tmp/linkbay-sim-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string link = std::string(directory) + "/com1";
    const auto program = RunSimulator({"korv", "--link", link, "--no-pacing"});
    const std::string device = program->readLine(), linkLine = program->readLine(), token = program->readLine(),
                      control = program->readLine();
    EXPECT_EQ(linkLine, "link " + link);
    ASSERT_EQ(token.rfind("token ", 0), 0u) << token;
    ASSERT_EQ(control.rfind("control 127.0.0.1:", 0), 0u) << device << "\n" << control;
    ControlClient client;
    ASSERT_TRUE(client.connect(static_cast<uint16_t>(std::stoi(control.substr(18))), token.substr(6)));

    // The control commands the driver tests steer the program with are shown there (DriverRig).
    DriverPort port;
    ASSERT_TRUE(port.open(link, CBR_9600));
    EXPECT_EQ(port.exchange("33\r"), "33 4096\r\n");
    EXPECT_EQ(client.command("start"), "ok\n");
    EXPECT_EQ(client.command("status"), "ok acquiring=1 exchanges=1 returns=0\n");
    const std::string help = client.command("help");
    EXPECT_NE(help.find("+ fault K|next KIND [N [COUNT]]"), std::string::npos) << help;
    EXPECT_NE(help.find("+ width 1|2|4|auto"), std::string::npos) << help;
    EXPECT_EQ(client.command("quit"), "ok\n");
    EXPECT_EQ(program->wait(), 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the program removes its link when it ends";
    rmdir(directory);
}

TEST(SimControl, TheProgramRefusesBadArgumentsWithAMessage) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"nosuch"}, {"korv", "--baud", "fast"}, {"korv", "--control", "70000"}, {"korv", "--bogus"}, {"korv", "--link"},
        {"korv", "--wire-log", "0"}, {"korv", "--parent", "1"},
    };
    for (const auto& arguments : cases) {
        const auto program = RunSimulator(arguments);
        const std::string message = program->readLine();
        EXPECT_EQ(program->wait(), 2) << message;
        EXPECT_EQ(message.rfind("linkbay-sim: ", 0), 0u) << message;
        EXPECT_EQ(program->readLine(), "") << "one line only";
    }
}

// Another user plants entries where the program writes: it never writes
// through them, and its link replaces nothing but a link.
TEST(SimControl, TheProgramNeverWritesThroughPlantedPaths) {
    struct Case {
        const char* what;
        const char* linkName;   // --link, in the directory; the ready file is "ready"
        const char* plantedAt;  // a symlink to the victim there, if any
        bool refused;
    };
    const Case cases[] = {
        {"a link at the ready file's partial name", "com1", "ready.partial", false},
        {"a link at the ready file", "com1", "ready", false},
        {"a regular file at the link", "victim", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char directory[] = "/tmp/linkbay-sim-XXXXXX";
        ASSERT_NE(mkdtemp(directory), nullptr);
        const std::string dir = directory, victim = dir + "/victim", ready = dir + "/ready";
        WriteRaw(victim, "precious\n");
        if (c.plantedAt != nullptr) {
            ASSERT_EQ(symlink(victim.c_str(), (dir + "/" + c.plantedAt).c_str()), 0);
        }
        const auto program = RunSimulator({"korv", "--link", dir + "/" + c.linkName, "--ready-file", ready, "--quiet"});
        if (c.refused) {
            EXPECT_NE(program->readLine().find("victim is a regular file, not a link"), std::string::npos);
            EXPECT_EQ(program->wait(), 1);
        } else {
            EXPECT_TRUE(Eventually([&] { return ReadRaw(ready).value_or("").find("\ncontrol ") != std::string::npos; }));
        }
        program->kill();
        EXPECT_EQ(ReadRaw(victim), std::optional<std::string>("precious\n"));
        for (const std::string& name : DirectoryEntries(dir)) unlink((dir + "/" + name).c_str());
        rmdir(directory);
    }
}

// A starter killed outright (a demo under kill -9) takes its simulator with
// it: the simulator removes its link on the way out.
TEST(SimControl, TheProgramEndsWithItsParent) {
    char directory[] = "/tmp/linkbay-sim-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string link = std::string(directory) + "/com1", ready = std::string(directory) + "/ready";
    ChildProcess starter("/bin/sh", {"-c", "\"$0\" korv --quiet --link \"$1\" --ready-file \"$2\" --parent $$ & wait",
                                     LINKBAY_SIM_PATH, link, ready});
    ASSERT_TRUE(Eventually([&] { return access(ready.c_str(), F_OK) == 0; }));
    EXPECT_EQ(access(link.c_str(), F_OK), 0);
    starter.kill();
    EXPECT_TRUE(Eventually([&] { return access(link.c_str(), F_OK) != 0; })) << "the simulator outlived its parent";
    for (const std::string& path : {link, ready}) unlink(path.c_str());
    rmdir(directory);
}
#endif

}  // namespace
}  // namespace test
}  // namespace linkbay
