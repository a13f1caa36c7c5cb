#include "sim/control_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <chrono>
#include <vector>

#include "sim/simulator.h"

namespace linkbay {
namespace sim {

struct ControlServer::Client {
    int fd;
    std::string pending;
    std::chrono::steady_clock::time_point accepted;
    bool proven = false;
    bool lifeline = false;
};

namespace {
// Room for a set-counts line of all 4096 channels at full width.
constexpr size_t kMaxLine = 1 << 20;
constexpr size_t kMaxClients = 16;
// A connection that has not proved itself gets little room and little time,
// so strangers cannot hold the slots of the starter's connections.
constexpr size_t kMaxTokenLine = 256;
constexpr auto kProveWithin = std::chrono::seconds(5);
constexpr size_t kTokenBytes = 16;
const char kTokenWord[] = "token ";
const char kRefusal[] =
    "err this control port takes commands only from its starter: the first line must be 'token T', T as the "
    "simulator printed it at start-up; connection closed\n";

// Hexadecimal of fresh random bytes; empty when the system has none to give.
std::string RandomToken() {
    unsigned char bytes[kTokenBytes];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t count = getrandom(bytes + got, sizeof bytes - got, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return std::string();
        got += static_cast<size_t>(count);
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : bytes) {
        token += kDigits[byte >> 4];
        token += kDigits[byte & 15];
    }
    return token;
}

bool SendAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            if (sent < 0 && errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}
}  // namespace

ControlServer::~ControlServer() { stop(); }

bool ControlServer::start(uint16_t port, std::string& error) {
    m_token = RandomToken();
    if (m_token.empty()) {
        error = std::string("cannot draw the control token: ") + std::strerror(errno);
        return false;
    }
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        error = std::string("cannot create the control socket: ") + std::strerror(errno);
        return false;
    }
    const int reuse = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 8) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno) +
                (port ? " (choose another port, or none to let the system pick one)" : "");
        stop();
        return false;
    }
    if (pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot create the wake-up pipe";
        stop();
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_stop = false;
    m_thread = std::thread(&ControlServer::serve, this);
    return true;
}

void ControlServer::stop() {
    m_stop = true;
    if (m_wakePipe[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = ::write(m_wakePipe[1], &byte, 1);
        (void)ignored;
    }
    if (m_thread.joinable()) m_thread.join();
    for (int* fd : {&m_listenFd, &m_wakePipe[0], &m_wakePipe[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

// Compared in full whatever the first difference, so that the time taken
// tells nothing about the token.
bool ControlServer::provesToken(const std::string& line) const {
    const std::string expected = kTokenWord + m_token;
    unsigned char difference = line.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size(); ++i) {
        difference |= static_cast<unsigned char>(expected[i] ^ (i < line.size() ? line[i] : 0));
    }
    return difference == 0;
}

void ControlServer::dropOverdueStrangers(std::vector<Client>& clients) const {
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = clients.size(); i-- > 0;) {
        if (clients[i].proven || now - clients[i].accepted <= kProveWithin) continue;
        SendAll(clients[i].fd, kRefusal);
        ::close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void ControlServer::serve() {
    std::vector<Client> clients;
    bool lifelineChosen = false;
    while (!m_stop) {
        dropOverdueStrangers(clients);
        std::vector<pollfd> fds{{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        for (const Client& client : clients) fds.push_back({client.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) <= 0) continue;
        for (size_t i = clients.size(); i-- > 0;) {
            if (!(fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Client& client = clients[i];
            char buffer[4096];
            const ssize_t count = ::recv(client.fd, buffer, sizeof buffer, 0);
            bool keep = count > 0;
            if (keep) client.pending.append(buffer, static_cast<size_t>(count));
            size_t end = 0;
            while (keep && (end = client.pending.find('\n')) != std::string::npos) {
                const std::string line = client.pending.substr(0, end);
                client.pending.erase(0, end + 1);
                if (client.proven) {
                    keep = SendAll(client.fd, m_simulator.control(line));
                } else if (provesToken(line)) {
                    client.proven = true;
                    // The lifeline is the starter's first connection, never a stranger's.
                    client.lifeline = m_firstClientIsLifeline && !lifelineChosen;
                    lifelineChosen = true;
                    keep = SendAll(client.fd, "ok\n");
                } else {
                    SendAll(client.fd, kRefusal);
                    keep = false;
                }
            }
            if (keep && !client.proven && client.pending.size() > kMaxTokenLine) {
                SendAll(client.fd, kRefusal);
                keep = false;
            }
            if (keep && client.pending.size() > kMaxLine) {
                SendAll(client.fd, "err line longer than 1 MiB; connection closed\n");
                keep = false;
            }
            if (!keep) {
                if (client.lifeline) m_simulator.requestQuit();
                ::close(client.fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        // Accepted last: the poll results above cover only the clients polled.
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0 && clients.size() < kMaxClients) {
                // A client that stops reading its replies must not stall the others for long.
                const timeval limit{5, 0};
                setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
                clients.push_back(Client{fd, std::string(), std::chrono::steady_clock::now()});
            } else if (fd >= 0) {
                SendAll(fd, "err too many control connections\n");
                ::close(fd);
            }
        }
    }
    for (const Client& client : clients) ::close(client.fd);
}

}  // namespace sim
}  // namespace linkbay
