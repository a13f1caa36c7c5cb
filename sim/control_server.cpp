#include "sim/control_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "sim/simulator.h"

namespace linkbay {
namespace sim {

namespace {
// Room for a set-counts line of all 4096 channels at full width.
constexpr size_t kMaxLine = 1 << 20;
constexpr size_t kMaxClients = 16;

struct Client {
    int fd;
    std::string pending;
    bool lifeline;
};

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

void ControlServer::serve() {
    std::vector<Client> clients;
    bool anyAccepted = false;
    while (!m_stop) {
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
                keep = SendAll(client.fd, m_simulator.control(line));
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
                clients.push_back(Client{fd, std::string(), m_firstClientIsLifeline && !anyAccepted});
                anyAccepted = true;
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
