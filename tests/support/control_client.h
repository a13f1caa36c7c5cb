// A client of the simulators' control protocol on loopback TCP: one command
// a line, answered by "+ " data lines and a closing "ok ..." or "err ..." line.
#pragma once

#include <cstdint>
#include <string>

namespace linkbay {
namespace test {

class ControlClient {
public:
    ControlClient() = default;
    ~ControlClient() { disconnect(); }
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    bool connect(uint16_t port);
    void disconnect();
    bool connected() const { return m_socket != kNoSocket; }
    // Sends one command; returns every reply line up to and including the
    // closing one, or the text so far and a "<...>" note when the line fails.
    std::string command(const std::string& line);

private:
    static constexpr intptr_t kNoSocket = -1;
    bool sendAll(const std::string& text);
    // Bytes received into the buffer; 0 or less when the connection ended.
    long receive(char* buffer, size_t size);

    intptr_t m_socket = kNoSocket;
};

}  // namespace test
}  // namespace linkbay
