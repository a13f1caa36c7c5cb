// linkbay-pty-peers [PORTS [PREFIX]]: the far ends of serial lines as a native
// process beside a Windows build under Wine, which cannot make pseudo-terminals
// itself. It opens PORTS pseudo-terminals and prints "COMn DEVICE" for each
// (the Wine lane links $WINEPREFIX/dosdevices/comN to them), then
// "control 127.0.0.1:PORT": the loopback address where Windows test programs
// drive their peers, one request line and one reply line at a time:
//
//   open N                 a fresh pty for COMn of the prefix  -> ok DEVICE
//   write N HEX            send bytes to the device side       -> ok
//   read N MAX TIMEOUT_MS  up to MAX bytes, until TIMEOUT_MS passes without any -> ok HEX
//   settings N             the device side's line settings     -> ok BAUD DATABITS PARITY STOPBITS
//   hangup N               close the master: the device side sees a hang-up -> ok
//   link N PATH            point COMn of the prefix at PATH    -> ok
//
// Anything else is answered "error TEXT" and changes nothing. The ptys a
// connection opened hang up when it closes, as a test's peer does when it
// goes. The ptys of the start are drained, so that nothing writing to them
// blocks. The program ends when its standard input closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/line_settings.h"
#include "sim/pseudo_terminal.h"
#include "sim/pty_peer_protocol.h"

namespace {

using linkbay::sim::LineSettings;
using linkbay::sim::PtyMaster;
using linkbay::sim::peer_protocol::FromHex;
using linkbay::sim::peer_protocol::kMaxTransfer;
using linkbay::sim::peer_protocol::ToHex;

constexpr int kMaxPorts = 9;
constexpr size_t kMaxLine = 2 * kMaxTransfer + 64;
constexpr long kMaxTimeoutMs = 60000;

// The prefix whose dosdevices the ports live in; empty when there is none.
std::string g_sPrefix;

// The ptys of the start, until a connection opens its own for the port.
struct StartPorts {
    std::mutex mutex;
    std::unique_ptr<PtyMaster> peers[kMaxPorts + 1];
} g_start;

// A pty nobody has as controlling terminal becomes the controlling terminal
// of the first session leader that opens it, and the wineserver is one: it
// would get SIGHUP at each hang-up (and dump all its objects on stderr). So
// each pty is the controlling terminal of a session of its own, held by a
// child that the hang-up ends. Returns once the child holds it.
bool GiveSessionOfItsOwn(const std::string& sDevice) {
    int fdsReady[2];
    if (pipe2(fdsReady, O_CLOEXEC) != 0) return false;
    const char* pszDevice = sDevice.c_str();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls: the parent has other threads.
        dup2(fdsReady[1], 0);
        close_range(1, ~0U, 0);
        struct sigaction deflt {};
        deflt.sa_handler = SIG_DFL;
        sigaction(SIGHUP, &deflt, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int fd = setsid() < 0 ? -1 : open(pszDevice, O_RDWR | O_NOCTTY);
        if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0 || write(0, "+", 1) != 1) _exit(1);
        close(0);
        for (;;) pause();
    }
    close(fdsReady[1]);
    char chReady = 0;
    const bool bHeld = pid > 0 && read(fdsReady[0], &chReady, 1) == 1;
    close(fdsReady[0]);
    return bHeld;
}

std::string PointPortAt(int nPort, const std::string& sTarget) {
    if (g_sPrefix.empty()) return "no Wine prefix: give it as an argument or in WINEPREFIX";
    std::string sError;
    linkbay::sim::PointLinkAt(g_sPrefix + "/dosdevices/com" + std::to_string(nPort), sTarget, sError);
    return sError;
}

// A fresh pty held by a session of its own; null with the reason in sError.
std::unique_ptr<PtyMaster> OpenPty(std::string& sError) {
    auto pty = std::make_unique<PtyMaster>();
    if (!pty->open(sError)) return nullptr;
    if (!GiveSessionOfItsOwn(pty->devicePath())) {
        sError = "cannot give " + pty->devicePath() + " a session";
        return nullptr;
    }
    return pty;
}

// A word of a request as an error names it: short, and printable whatever was sent.
std::string Quoted(const std::string& sWord) {
    std::string sText = "'";
    for (const char c : sWord.substr(0, 40)) sText.push_back(c >= ' ' && c <= '~' ? c : '?');
    return sText + (sWord.size() > 40 ? "...'" : "'");
}

// A whole decimal number within [nMin, nMax].
bool ParseNumber(const std::string& sText, long nMin, long nMax, long* pnValue) {
    if (sText.empty() || sText.size() > 9 || sText.find_first_not_of("0123456789") != std::string::npos) return false;
    *pnValue = strtol(sText.c_str(), nullptr, 10);
    return *pnValue >= nMin && *pnValue <= nMax;
}

// A request split into its words: the verb, the port and the verb's
// arguments; link's path is the rest of the line, spaces and all.
struct Request {
    int nPort = 0;
    std::vector<std::string> args;
};

bool SplitWords(const std::string& sLine, size_t nWords, bool bLastTakesRest, std::vector<std::string>* pWords) {
    size_t nPos = 0;
    while (pWords->size() < nWords) {
        if (nPos == std::string::npos) return false;
        const bool bLast = pWords->size() + 1 == nWords;
        const size_t nEnd = bLast && bLastTakesRest ? std::string::npos : sLine.find(' ', nPos);
        pWords->push_back(sLine.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos));
        nPos = nEnd == std::string::npos ? std::string::npos : nEnd + 1;
    }
    return nPos == std::string::npos;
}

// The ptys one connection has opened; each request names one by its port.
class Session {
public:
    // The reply line for one request line, without its line feed.
    std::string Answer(const std::string& sLine);

private:
    struct Verb {
        const char* pszName;
        size_t nArgs;         // words after the port
        bool bLastTakesRest;  // the last argument is text that may hold spaces
        bool bNeedsPeer;      // the port must have been opened on this connection
        const char* pszUsage;
        std::string (Session::*pfnRun)(const Request&);
    };
    static const Verb kVerbs[];

    std::string Open(const Request& r);
    std::string Write(const Request& r);
    std::string Read(const Request& r);
    std::string Settings(const Request& r);
    std::string HangUp(const Request& r);
    std::string Link(const Request& r);

    std::unique_ptr<PtyMaster> m_peers[kMaxPorts + 1];
};

const Session::Verb Session::kVerbs[] = {
    {"open", 0, false, false, "open N", &Session::Open},
    {"write", 1, false, true, "write N HEX", &Session::Write},
    {"read", 2, false, true, "read N MAX TIMEOUT_MS", &Session::Read},
    {"settings", 0, false, true, "settings N", &Session::Settings},
    {"hangup", 0, false, true, "hangup N", &Session::HangUp},
    {"link", 1, true, false, "link N PATH", &Session::Link},
};

std::string Session::Answer(const std::string& sLine) {
    const std::string sVerb = sLine.substr(0, sLine.find(' '));
    const Verb* pVerb = nullptr;
    for (const Verb& verb : kVerbs) {
        if (sVerb == verb.pszName) pVerb = &verb;
    }
    if (pVerb == nullptr) {
        return "error unknown request " + Quoted(sVerb) + " (open, write, read, settings, hangup, link)";
    }
    std::vector<std::string> words;
    if (!SplitWords(sLine, pVerb->nArgs + 2, pVerb->bLastTakesRest, &words)) {
        return std::string("error usage: ") + pVerb->pszUsage;
    }
    long nPort = 0;
    if (!ParseNumber(words[1], 1, kMaxPorts, &nPort)) {
        return "error no port " + Quoted(words[1]) + " (1.." + std::to_string(kMaxPorts) + ")";
    }
    const Request r{static_cast<int>(nPort), std::vector<std::string>(words.begin() + 2, words.end())};
    if (pVerb->bNeedsPeer && !m_peers[r.nPort]) {
        return "error COM" + words[1] + " is not open on this connection (open " + words[1] + ")";
    }
    return (this->*pVerb->pfnRun)(r);
}

std::string Session::Open(const Request& r) {
    std::string sError;
    auto peer = OpenPty(sError);
    if (!peer) return "error " + sError;
    sError = PointPortAt(r.nPort, peer->devicePath());
    if (!sError.empty()) return "error " + sError;
    {
        std::lock_guard<std::mutex> lock(g_start.mutex);
        g_start.peers[r.nPort].reset();
    }
    m_peers[r.nPort] = std::move(peer);
    return "ok " + m_peers[r.nPort]->devicePath();
}

std::string Session::Write(const Request& r) {
    std::string bytes;
    if (r.args[0].size() > 2 * kMaxTransfer) return "error more than " + std::to_string(kMaxTransfer) + " bytes";
    if (!FromHex(r.args[0], &bytes)) return "error bytes must be pairs of hex digits";
    size_t cbWritten = 0;
    const bool bDone = linkbay::sim::WriteAsTaken(m_peers[r.nPort]->fd(), bytes.data(), bytes.size(), 1000,
                                                  cbWritten) == linkbay::sim::WriteEnd::kDone;
    return bDone ? "ok" : "error the device side took no more bytes for a second";
}

std::string Session::Read(const Request& r) {
    long cbMax = 0, nTimeoutMs = 0;
    if (!ParseNumber(r.args[0], 1, kMaxTransfer, &cbMax)) return "error MAX must be 1.." + std::to_string(kMaxTransfer);
    if (!ParseNumber(r.args[1], 0, kMaxTimeoutMs, &nTimeoutMs)) return "error TIMEOUT_MS must be 0.." + std::to_string(kMaxTimeoutMs);
    const std::string bytes =
        linkbay::sim::ReadUntilQuiet(m_peers[r.nPort]->fd(), static_cast<size_t>(cbMax), static_cast<int>(nTimeoutMs));
    return bytes.empty() ? "ok" : "ok " + ToHex(bytes);
}

std::string Session::Settings(const Request& r) {
    const LineSettings s = linkbay::sim::ReadLineSettings(m_peers[r.nPort]->fd());
    return "ok " + std::to_string(s.baud) + " " + std::to_string(s.dataBits) + " " + s.parity + " " + std::to_string(s.stopBits);
}

std::string Session::HangUp(const Request& r) {
    m_peers[r.nPort].reset();
    return "ok";
}

std::string Session::Link(const Request& r) {
    if (r.args[0].empty()) return "error usage: link N PATH";
    const std::string sError = PointPortAt(r.nPort, r.args[0]);
    return sError.empty() ? "ok" : "error " + sError;
}

bool SendAll(int fd, const std::string& sData) {
    size_t cbDone = 0;
    while (cbDone < sData.size()) {
        const ssize_t cb = send(fd, sData.data() + cbDone, sData.size() - cbDone, MSG_NOSIGNAL);
        if (cb < 0 && errno == EINTR) continue;
        if (cb <= 0) return false;
        cbDone += static_cast<size_t>(cb);
    }
    return true;
}

// Serves one connection until it closes. A line too long is refused once and
// skipped up to its end; the lines after it are served as usual.
void Serve(int fd) {
    const std::string sTooLong = "error line longer than " + std::to_string(kMaxLine) + " characters\n";
    Session session;
    std::string sPending;
    bool bSkipping = false;
    char buffer[16384];
    for (;;) {
        const ssize_t cb = recv(fd, buffer, sizeof buffer, 0);
        if (cb < 0 && errno == EINTR) continue;
        if (cb <= 0) return;
        sPending.append(buffer, static_cast<size_t>(cb));
        size_t nEnd;
        while ((nEnd = sPending.find('\n')) != std::string::npos) {
            std::string sLine = sPending.substr(0, nEnd);
            sPending.erase(0, nEnd + 1);
            if (bSkipping) {
                bSkipping = false;
                continue;
            }
            if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
            if (!SendAll(fd, sLine.size() > kMaxLine ? sTooLong : session.Answer(sLine) + "\n")) return;
        }
        if (sPending.size() > kMaxLine) {
            sPending.clear();
            if (!bSkipping && !SendAll(fd, sTooLong)) return;
            bSkipping = true;
        }
    }
}

struct Connection {
    int fd;
    std::atomic<bool> bDone{false};
    std::thread thread;
};

int Listen(uint16_t* pnPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t cbAddress = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &cbAddress) != 0) {
        close(fd);
        return -1;
    }
    *pnPort = ntohs(address.sin_port);
    return fd;
}

void Accept(int fdListen, std::list<Connection>* pConnections) {
    const int fd = accept4(fdListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    // Requests and replies are single small lines: send each at once.
    const int nOne = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    Connection& connection = pConnections->emplace_back();
    connection.fd = fd;
    connection.thread = std::thread([&connection] {
        Serve(connection.fd);
        connection.bDone = true;
    });
}

void Finish(Connection& connection) {
    shutdown(connection.fd, SHUT_RDWR);
    connection.thread.join();
    close(connection.fd);
}

void DrainStartPorts() {
    std::lock_guard<std::mutex> lock(g_start.mutex);
    for (auto& peer : g_start.peers) {
        if (peer) linkbay::sim::ReadUntilQuiet(peer->fd(), 4096, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int nPorts = argc > 1 ? atoi(argv[1]) : 5;
    if (nPorts < 1 || nPorts > kMaxPorts || argc > 3) {
        fprintf(stderr, "usage: %s [PORTS 1..%d [WINEPREFIX]]\n", argv[0], kMaxPorts);
        return 2;
    }
    const char* pszPrefix = argc > 2 ? argv[2] : getenv("WINEPREFIX");
    g_sPrefix = pszPrefix != nullptr ? pszPrefix : "";
    signal(SIGCHLD, SIG_IGN);  // the session holders end unwaited for
    for (int n = 1; n <= nPorts; ++n) {
        std::string sError;
        g_start.peers[n] = OpenPty(sError);
        if (!g_start.peers[n]) {
            fprintf(stderr, "%s: no pseudo-terminal for COM%d: %s\n", argv[0], n, sError.c_str());
            return 1;
        }
        printf("COM%d %s\n", n, g_start.peers[n]->devicePath().c_str());
    }
    uint16_t nControlPort = 0;
    const int fdListen = Listen(&nControlPort);
    if (fdListen < 0) {
        fprintf(stderr, "%s: cannot listen on the loopback interface: %s\n", argv[0], strerror(errno));
        return 1;
    }
    printf("control 127.0.0.1:%u\n", static_cast<unsigned>(nControlPort));
    fflush(stdout);

    std::list<Connection> connections;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {fdListen, POLLIN, 0}};
        if (poll(fds, 2, 50) > 0) {
            if (fds[0].revents != 0) {
                char buffer[256];
                if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
            }
            if (fds[1].revents & POLLIN) Accept(fdListen, &connections);
        }
        DrainStartPorts();
        connections.remove_if([](Connection& c) {
            if (!c.bDone) return false;
            Finish(c);
            return true;
        });
    }
    for (Connection& connection : connections) Finish(connection);
    close(fdListen);
    return 0;
}
