// The control protocol over loopback TCP: from another thread of this
// process, and against the simulator program running as its own process.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "sim/control_server.h"
#include "sim_test_support.h"

extern char** environ;

namespace linkbay {
namespace test {
namespace {

TEST(SimControl, CommandsFromAnotherThreadSeeAndSteerTheLine) {
    auto simulator = StartKorv(Unpaced());
    sim::ControlServer server(*simulator);
    std::string error;
    ASSERT_TRUE(server.start(0, error)) << error;
    ASSERT_NE(server.port(), 0);
    DriverPort port;
    ASSERT_TRUE(port.open(simulator->devicePath(), CBR_9600));

    std::string sent, counts, status;
    std::thread controller([&] {
        ControlClient client;
        ASSERT_TRUE(client.connect(server.port()));
        const std::string mark = client.command("mark");
        ASSERT_EQ(mark.substr(0, 3), "ok ");
        EXPECT_EQ(client.command("fault next reject"), "ok 1\n");
        EXPECT_EQ(client.command("set-counts 10 7 8 9"), "ok\n");
        EXPECT_EQ(client.command("start"), "ok\n");
        status = client.command("status");
        counts = client.command("counts 9 5");
        // Wait for the driver's two requests, then read what it sent.
        for (int i = 0; i < 200 && client.command("exchanges") != "ok 2\n"; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        sent = client.command("sent " + mark.substr(3));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(port.exchange("33\r"), "??\r\n");
    EXPECT_EQ(port.exchange("67\r"), "67 8192\r\n");
    controller.join();
    EXPECT_EQ(status, "ok acquiring=1 exchanges=0 returns=0\n");
    EXPECT_EQ(counts, "ok 0 7 8 9 0\n");
    EXPECT_EQ(sent, "ok 33\\r67\\r\n");
}

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
    };
    auto simulator = StartKorv(Unpaced());
    sim::ControlServer server(*simulator);
    std::string error;
    ASSERT_TRUE(server.start(0, error)) << error;
    ControlClient client;
    ASSERT_TRUE(client.connect(server.port()));
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
    ASSERT_TRUE(again.connect(server.port()));
    EXPECT_EQ(again.command("exchanges"), "ok 0\n");
}

#ifdef LINKBAY_SIM_PATH
// Runs the simulator program; returns its pid and the lines it printed first.
pid_t SpawnSimulator(const std::vector<std::string>& arguments, std::string& printed) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv{const_cast<char*>(LINKBAY_SIM_PATH)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, LINKBAY_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    FILE* output = fdopen(pipeFds[0], "r");
    char line[512];
    while (output && fgets(line, sizeof line, output)) {
        printed += line;
        if (std::string(line).rfind("control ", 0) == 0) break;
    }
    if (output) fclose(output);
    return pid;
}

TEST(SimControl, TheSimulatorProgramIsDrivenFromAnotherProcess) {
    char directory[] = "/tmp/linkbay-sim-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string link = std::string(directory) + "/com1";
    std::string printed;
    const pid_t pid = SpawnSimulator({"korv", "--link", link, "--no-pacing"}, printed);
    ASSERT_GT(pid, 0);
    const size_t at = printed.find("control 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << printed;
    EXPECT_NE(printed.find("link " + link + "\n"), std::string::npos) << printed;
    ControlClient client;
    ASSERT_TRUE(client.connect(static_cast<uint16_t>(std::stoi(printed.substr(at + 18)))));

    DriverPort port;
    ASSERT_TRUE(port.open(link, CBR_9600));
    EXPECT_EQ(client.command("set-counts 0 5 6 7"), "ok\n");
    EXPECT_EQ(client.command("width 1"), "ok\n");
    EXPECT_EQ(client.command("announce 3"), "ok\n");
    EXPECT_EQ(port.exchange("fb\r"), std::string("fb SPECTRUM\r\nCHANNELS 3\r\n0100\x05\x06\x07", 32));
    EXPECT_EQ(client.command("fault next garbage 5"), "ok 2\n");
    EXPECT_EQ(port.exchange("33\r"), "#%&*+");
    EXPECT_EQ(client.command("sent 0"), "ok fb\\r33\\r\n");
    const std::string help = client.command("help");
    EXPECT_NE(help.find("+ fault K|next KIND [N [COUNT]]"), std::string::npos) << help;
    EXPECT_NE(help.find("+ width 1|2|4|auto"), std::string::npos) << help;
    EXPECT_EQ(client.command("quit"), "ok\n");
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the program removes its link when it ends";
    rmdir(directory);
}

TEST(SimControl, TheProgramRefusesBadArgumentsWithAMessage) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"nosuch"}, {"korv", "--baud", "fast"}, {"korv", "--control", "70000"}, {"korv", "--bogus"}, {"korv", "--link"},
    };
    for (const auto& arguments : cases) {
        std::string printed;
        const pid_t pid = SpawnSimulator(arguments, printed);
        ASSERT_GT(pid, 0);
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << arguments.size();
        EXPECT_EQ(printed.rfind("linkbay-sim: ", 0), 0u) << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    }
}
#endif

}  // namespace
}  // namespace test
}  // namespace linkbay
