#include "control_client.h"

namespace linkbay {
namespace test {

namespace {
bool EndsWithStatusLine(const std::string& reply) {
    if (reply.empty() || reply.back() != '\n') return false;
    const size_t previous = reply.size() >= 2 ? reply.rfind('\n', reply.size() - 2) : std::string::npos;
    const size_t start = previous == std::string::npos ? 0 : previous + 1;
    return reply.compare(start, 2, "ok") == 0 || reply.compare(start, 3, "err") == 0;
}
}  // namespace

bool ControlClient::connect(uint16_t port, const std::string& token) {
    disconnect();
    m_socket = ConnectLoopback(port);
    if (connected() && !token.empty() && command("token " + token) != "ok\n") disconnect();
    return connected();
}

void ControlClient::disconnect() {
    if (connected()) Close(m_socket);
    m_socket = kNoSocket;
}

std::string ControlClient::command(const std::string& line) {
    if (!connected()) return "<not connected>";
    const std::string request = line + "\n";
    for (size_t done = 0; done < request.size();) {
        const long sent = Send(m_socket, request.data() + done, request.size() - done);
        if (sent <= 0) return "<send failed>";
        done += static_cast<size_t>(sent);
    }
    std::string reply;
    while (!EndsWithStatusLine(reply)) {
        char buffer[4096];
        const long got = Receive(m_socket, buffer, sizeof buffer);
        if (got <= 0) return reply + "<connection closed>";
        reply.append(buffer, static_cast<size_t>(got));
    }
    return reply;
}

}  // namespace test
}  // namespace linkbay
