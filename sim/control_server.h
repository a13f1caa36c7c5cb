// The control protocol on a loopback TCP port, for processes other than the
// one running the simulator (a Windows test process under Wine included).
// Any local user can reach a loopback port, so a connection first proves it
// belongs to the starter: its first line is "token T", T the secret the
// simulator hands the starter through its start-up lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace linkbay {
namespace sim {

class Simulator;

class ControlServer {
public:
    explicit ControlServer(Simulator& simulator) : m_simulator(simulator) {}
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Port 0 lets the kernel choose; port() tells which.
    bool start(uint16_t port, std::string& error);
    void stop();
    uint16_t port() const { return m_port; }
    // The secret a connection's first line must carry; set by start.
    const std::string& token() const { return m_token; }
    // The simulator is asked to quit when the first control connection
    // closes: a test process that dies cannot leave its simulator running.
    void quitWhenFirstClientLeaves() { m_firstClientIsLifeline = true; }

private:
    struct Client;
    void serve();
    bool provesToken(const std::string& line) const;
    void dropOverdueStrangers(std::vector<Client>& clients) const;

    Simulator& m_simulator;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_port = 0;
    std::string m_token;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_firstClientIsLifeline{false};
    std::thread m_thread;
};

}  // namespace sim
}  // namespace linkbay
