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

std::string ControlClient::command(const std::string& line) {
    if (!connected()) return "<not connected>";
    if (!sendAll(line + "\n")) return "<send failed>";
    std::string reply;
    while (!EndsWithStatusLine(reply)) {
        char buffer[4096];
        const long got = receive(buffer, sizeof buffer);
        if (got <= 0) return reply + "<connection closed>";
        reply.append(buffer, static_cast<size_t>(got));
    }
    return reply;
}

}  // namespace test
}  // namespace linkbay
