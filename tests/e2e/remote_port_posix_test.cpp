// An instrument on another machine, reached as a lab reaches it: the
// simulator's line served by ser2net on a TCP port, and COM1 of this machine
// bound to that port by scripts/remote-port.sh (socat). Both are Debian's
// programs; the chain runs on 127.0.0.1.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "commands.h"
#include "e2e/loaded_addin.h"
#include "support/child_process.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

constexpr int32_t kMcb = 97;  // COM1
constexpr const char* kSer2net = "/usr/sbin/ser2net";

// A port on 127.0.0.1 that the system had free a moment ago.
uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t cb = sizeof address;
    const bool bBound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &cb) == 0;
    close(fd);
    return bBound ? ntohs(address.sin_port) : 0;
}

// A program of the chain, stopped by the signal the test chooses, or by
// SIGTERM however the test ends (remote-port.sh then ends its socat).
struct Running : ChildProcess {
    using ChildProcess::ChildProcess;
    ~Running() { stop(SIGTERM); }
    void stop(int nSignal) {
        if (started() && wait(0) < 0 && ::kill(pid(), nSignal) == 0) wait(5000);
    }
};

// "served mac/mic" of one SHOW_VERSION exchange: "1 0/0" when it worked.
std::string Exchange(AddinBase& addin) {
    const linkbay_host::DialogResult result = linkbay_host::SendLine(addin, kMcb, 1, "SHOW_VERSION");
    return std::to_string(result.bServed) + " " + std::to_string(result.nMac) + "/" + std::to_string(result.nMic);
}

TEST(RemotePort, HostsReachAnInstrumentThroughSer2netAndSocatAndRecoverAfterTheConnectionDrops) {
    ASSERT_EQ(access(kSer2net, X_OK), 0) << "ser2net is not installed: scripts/ensure-deps.sh installs it";
    LoadedAddin& loaded = TheAddin();

    // The instrument's own line is COM5's link, which DETHUB.INI leaves
    // alone: only ser2net opens it, as on the machine the instrument hangs off.
    SimulatorProgram simulator(5);
    ASSERT_TRUE(simulator.ready()) << simulator.problem();
    std::vector<uint32_t> counts(4096);
    std::string sSetCounts = "set-counts 0";
    for (size_t c = 0; c < counts.size(); ++c) {
        counts[c] = static_cast<uint32_t>((c * 7919u) % 100003u);  // every channel its own count
        sSetCounts += " " + std::to_string(counts[c]);
    }
    ASSERT_EQ(simulator.control(sSetCounts), "ok\n");

    const uint16_t nTcpPort = FreePort();
    ASSERT_NE(nTcpPort, 0);
    const std::string sConfig = loaded.sDir + "/ser2net.yaml";
    std::ofstream(sConfig) << "connection: &instrument\n"
                           << "  accepter: tcp,127.0.0.1," << nTcpPort << "\n"
                           << "  connector: serialdev," << loaded.sDir << "/com5,9600n81,local\n";
    const std::vector<std::string> ser2netArgs = {"-n", "-u", "-c", sConfig};
    auto ser2net = std::make_unique<Running>(kSer2net, ser2netArgs);
    const std::string sLink = loaded.sDir + "/com1";
    Running bridge(LINKBAY_REMOTE_PORT_SCRIPT, {"--link", sLink, "1", "127.0.0.1", std::to_string(nTcpPort)});
    ASSERT_TRUE(ser2net->started() && bridge.started());
    ASSERT_TRUE(Eventually([&] { return access(sLink.c_str(), F_OK) == 0; }, 10000))
        << "remote-port.sh made no link at " << sLink;

    ScopedVariable com1("LINKBAY_COM1", sLink);
    loaded.writeIni("[CONFIG]\r\nCOM1=KORV\r\n");
    AddinBase& addin = loaded.addin();
    addin.Open();
    EXPECT_EQ(Exchange(addin), "1 0/0");
    EXPECT_EQ(linkbay_host::ReadWholeSpectrum(addin, kMcb, 1).counts, counts);
    {
        ChildProcess host(LINKBAY_HOST_PATH, {"list"});
        std::string sListing;
        for (std::string sLine = host.readLine(15000); !sLine.empty(); sLine = host.readLine(15000))
            sListing += sLine + "\n";
        EXPECT_EQ(host.wait(15000), 0);
        EXPECT_TRUE(std::regex_search(sListing, std::regex(R"(\n97 +1 +COM1 +KORV )"))) << sListing;
    }

    // ser2net goes away in the middle of the session: the port vanishes
    // under the host, which gets an error pair, not a hang.
    ser2net->stop(SIGKILL);
    std::string sLost;
    EXPECT_TRUE(Eventually([&] { return (sLost = Exchange(addin)) != "1 0/0"; }))
        << "exchanges still succeed after ser2net was killed";

    // Back again: socat reconnects within a second, and the add-in opens the
    // port at its next interrogation.
    ser2net = std::make_unique<Running>(kSer2net, ser2netArgs);
    std::string sBack;
    EXPECT_TRUE(Eventually([&] { return (sBack = Exchange(addin)) == "1 0/0"; }, 15000))
        << "no recovery; the last exchange: " << sBack << "; the first after the drop: " << sLost;
    EXPECT_EQ(linkbay_host::ReadWholeSpectrum(addin, kMcb, 1).counts, counts);
    addin.Close();
}

}  // namespace
}  // namespace test
}  // namespace linkbay
