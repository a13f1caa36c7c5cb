// Winsock for the Windows test programs, which reach the native simulator
// programs beside them under Wine over loopback TCP.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>

#include "control_client.h"

namespace linkbay {
namespace test {

namespace {
bool StartWinsock() {
    static const bool s_bStarted = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return s_bStarted;
}
SOCKET AsSocket(intptr_t value) { return static_cast<SOCKET>(value); }
}  // namespace

bool ControlClient::connect(uint16_t port) {
    disconnect();
    if (!StartWinsock()) return false;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return false;
    }
    m_socket = static_cast<intptr_t>(s);
    return true;
}

void ControlClient::disconnect() {
    if (m_socket != kNoSocket) closesocket(AsSocket(m_socket));
    m_socket = kNoSocket;
}

bool ControlClient::sendAll(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const int sent = ::send(AsSocket(m_socket), text.data() + done, static_cast<int>(text.size() - done), 0);
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

long ControlClient::receive(char* buffer, size_t size) {
    return ::recv(AsSocket(m_socket), buffer, static_cast<int>(size), 0);
}

}  // namespace test
}  // namespace linkbay
