// Winsock for the Windows test programs, which reach the native simulator
// programs beside them under Wine over loopback TCP.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>

#include "control_client.h"

namespace linkbay {
namespace test {

intptr_t ControlClient::ConnectLoopback(uint16_t port) {
    static const bool s_bStarted = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const SOCKET s = s_bStarted ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return static_cast<intptr_t>(s);
    closesocket(s);
    return kNoSocket;
}

void ControlClient::Close(intptr_t socket) { closesocket(static_cast<SOCKET>(socket)); }

long ControlClient::Send(intptr_t socket, const char* data, size_t size) {
    return ::send(static_cast<SOCKET>(socket), data, static_cast<int>(size), 0);
}

long ControlClient::Receive(intptr_t socket, char* buffer, size_t size) {
    return ::recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(size), 0);
}

}  // namespace test
}  // namespace linkbay
