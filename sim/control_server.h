// The control protocol on a loopback TCP port, for processes other than the
// one running the simulator (a Windows test process under Wine included).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

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
    // The simulator is asked to quit when the first control connection
    // closes: a test process that dies cannot leave its simulator running.
    void quitWhenFirstClientLeaves() { m_firstClientIsLifeline = true; }

private:
    void serve();

    Simulator& m_simulator;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_firstClientIsLifeline{false};
    std::thread m_thread;
};

}  // namespace sim
}  // namespace linkbay
