#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control_client.h"

namespace linkbay {
namespace test {

intptr_t ControlClient::ConnectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return kNoSocket;
}

void ControlClient::Close(intptr_t socket) { ::close(static_cast<int>(socket)); }

long ControlClient::Send(intptr_t socket, const char* data, size_t size) {
    return static_cast<long>(::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL));
}

long ControlClient::Receive(intptr_t socket, char* buffer, size_t size) {
    return static_cast<long>(::recv(static_cast<int>(socket), buffer, size, 0));
}

}  // namespace test
}  // namespace linkbay
