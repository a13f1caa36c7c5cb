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

    // With a token, the connection proves itself with it first, as a
    // simulator's control port demands; false when it is refused.
    bool connect(uint16_t port, const std::string& token = std::string());
    void disconnect();
    bool connected() const { return m_socket != kNoSocket; }
    // Sends one command; returns every reply line up to and including the
    // closing one, or the text so far and a "<...>" note when the line fails.
    std::string command(const std::string& line);

private:
    static constexpr intptr_t kNoSocket = -1;
    // The platform's sockets: a connection to 127.0.0.1:port (kNoSocket on
    // failure), its end, and one send or receive, which gives the bytes moved,
    // 0 or less once the connection has failed or ended.
    static intptr_t ConnectLoopback(uint16_t port);
    static void Close(intptr_t socket);
    static long Send(intptr_t socket, const char* data, size_t size);
    static long Receive(intptr_t socket, char* buffer, size_t size);

    intptr_t m_socket = kNoSocket;
};

inline bool StartsWith(const std::string& s, const std::string& sPrefix) {
    return s.compare(0, sPrefix.size(), sPrefix) == 0;
}

// The value after "ok " of a one-line reply, without its line feed; anything
// else comes back in angle brackets, so that it matches no expected value.
inline std::string OkValue(const std::string& sReply) {
    if (sReply == "ok\n") return std::string();
    if (!StartsWith(sReply, "ok ") || sReply.find('\n') != sReply.size() - 1) return "<" + sReply + ">";
    return sReply.substr(3, sReply.size() - 4);
}

}  // namespace test
}  // namespace linkbay
