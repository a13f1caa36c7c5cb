#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control_client.h"

namespace linkbay {
namespace test {

bool ControlClient::connect(uint16_t port) {
    disconnect();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    m_socket = fd;
    return true;
}

void ControlClient::disconnect() {
    if (m_socket != kNoSocket) ::close(static_cast<int>(m_socket));
    m_socket = kNoSocket;
}

bool ControlClient::sendAll(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t sent = ::send(static_cast<int>(m_socket), text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

long ControlClient::receive(char* buffer, size_t size) {
    return static_cast<long>(::recv(static_cast<int>(m_socket), buffer, size, 0));
}

}  // namespace test
}  // namespace linkbay
