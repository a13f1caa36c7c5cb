#include "pty_peer.h"

#include "control_client.h"  // unused here, but the member's type must be complete

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace linkbay {
namespace test {

PtyPeer::PtyPeer() {
    m_fdMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fdMaster < 0) return;
    if (grantpt(m_fdMaster) != 0 || unlockpt(m_fdMaster) != 0) {
        hangUp();
        return;
    }
    char szName[128];
    if (ptsname_r(m_fdMaster, szName, sizeof szName) != 0) {
        hangUp();
        return;
    }
    m_sDevice = szName;
    // Mode changes through the master apply to the device side: make it raw
    // from the start, so nothing sent before the device is opened is echoed.
    termios tio{};
    if (tcgetattr(m_fdMaster, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_fdMaster, TCSANOW, &tio);
    }
    fcntl(m_fdMaster, F_SETFL, fcntl(m_fdMaster, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() { hangUp(); }

bool PtyPeer::ok() const { return m_fdMaster >= 0; }

void PtyPeer::bindToPort(int nPort) { BindPortToPath(nPort, m_sDevice); }

bool BindPortToPath(int nPort, const std::string& sPath) {
    const std::string sName = "LINKBAY_COM" + std::to_string(nPort);
    return setenv(sName.c_str(), sPath.c_str(), 1) == 0;
}

// Gives up after a second without progress: once the device side has closed,
// the master can report itself writable while every write is refused.
bool PtyPeer::write(const std::string& bytes) {
    size_t cbDone = 0;
    int nIdleMs = 0;
    while (cbDone < bytes.size()) {
        const ssize_t cb = ::write(m_fdMaster, bytes.data() + cbDone, bytes.size() - cbDone);
        if (cb > 0) {
            cbDone += static_cast<size_t>(cb);
            nIdleMs = 0;
            continue;
        }
        if (cb < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (nIdleMs >= 1000) return false;
        pollfd pfd{m_fdMaster, POLLOUT, 0};
        if (poll(&pfd, 1, 10) < 0 && errno != EINTR) return false;
        nIdleMs += 10;
    }
    return true;
}

std::string PtyPeer::read(size_t cbMax, int nTimeoutMs) {
    std::string sResult;
    char buffer[4096];
    pollfd pfd{m_fdMaster, POLLIN, 0};
    while (sResult.size() < cbMax && poll(&pfd, 1, nTimeoutMs) > 0 && (pfd.revents & POLLIN)) {
        const size_t cbWant = std::min(sizeof buffer, cbMax - sResult.size());
        const ssize_t cb = ::read(m_fdMaster, buffer, cbWant);
        if (cb <= 0) break;
        sResult.append(buffer, static_cast<size_t>(cb));
    }
    return sResult;
}

size_t PtyPeer::pendingFromDevice() const {
    int cb = 0;
    return ioctl(m_fdMaster, FIONREAD, &cb) == 0 ? static_cast<size_t>(cb) : 0;
}

LineSettings PtyPeer::settings() const { return ReadLineSettings(m_fdMaster); }

void PtyPeer::hangUp() {
    if (m_fdMaster >= 0) close(m_fdMaster);
    m_fdMaster = -1;
}

}  // namespace test
}  // namespace linkbay
