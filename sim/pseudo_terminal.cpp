#include "sim/pseudo_terminal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace linkbay {
namespace sim {

int OpenRawPtyMaster(std::string& devicePath, std::string& error) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return -1;
    }
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        error = std::string("cannot prepare the pseudo-terminal: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    devicePath = name;
    // Mode changes through the master apply to the device side; raw from the
    // start so that nothing is echoed before the other end configures it.
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Idle time is counted in waits, not by the clock: once the device side has
// closed, the master can report itself writable while every write is refused.
WriteEnd WriteAsTaken(int fd, const char* bytes, size_t count, int idleLimitMs, size_t& written,
                      const std::function<bool()>& stopping) {
    constexpr int kWaitMs = 10;
    written = 0;
    for (int idleMs = 0; written < count;) {
        if (stopping && stopping()) return WriteEnd::kStopped;
        const ssize_t done = ::write(fd, bytes + written, count - written);
        if (done > 0) {
            written += static_cast<size_t>(done);
            idleMs = 0;
            continue;
        }
        if (done < 0 && errno != EAGAIN && errno != EINTR) return WriteEnd::kFailed;
        if (idleMs >= idleLimitMs) return WriteEnd::kIdle;
        pollfd pfd{fd, POLLOUT, 0};
        if (poll(&pfd, 1, kWaitMs) < 0 && errno != EINTR) return WriteEnd::kFailed;
        idleMs += kWaitMs;
    }
    return WriteEnd::kDone;
}

std::string ReadUntilQuiet(int fd, size_t max, int quietMs) {
    std::string result;
    char buffer[4096];
    pollfd pfd{fd, POLLIN, 0};
    while (result.size() < max && poll(&pfd, 1, quietMs) > 0 && (pfd.revents & POLLIN)) {
        const ssize_t count = ::read(fd, buffer, std::min(sizeof buffer, max - result.size()));
        if (count <= 0) break;
        result.append(buffer, static_cast<size_t>(count));
    }
    return result;
}

size_t BytesWaiting(int fd) {
    int count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
}

namespace {
const char* KindOfFile(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    return "a special file";
}
}  // namespace

// Only a link is replaced: the path may name someone's file, and a link is
// all this ever puts there (a stale one of a simulator that was killed, or
// one that names another device, goes: replacing a link changes no file).
bool PointLinkAt(const std::string& link, const std::string& target, std::string& error) {
    struct stat existing {};
    if (::lstat(link.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = link + " is " + KindOfFile(existing.st_mode) + ", not a link: it is left as it is (remove it, or " +
                "choose another path for the link)";
        return false;
    }
    static std::atomic<unsigned> s_temporaries{0};
    const std::string temporary = link + ".new" + std::to_string(getpid()) + "_" + std::to_string(++s_temporaries);
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        error = "cannot point " + link + " at " + target + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool PtyMaster::open(std::string& error) {
    close();
    m_fd = OpenRawPtyMaster(m_devicePath, error);
    return m_fd >= 0;
}

void PtyMaster::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

}  // namespace sim
}  // namespace linkbay
