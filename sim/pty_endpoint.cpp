#include "sim/pty_endpoint.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace linkbay {
namespace sim {

PtyEndpoint::~PtyEndpoint() { close(); }

bool PtyEndpoint::open(const std::string& linkPath, std::string& error) {
    close();
    m_linkPath = linkPath;
    m_fdMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fdMaster < 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (grantpt(m_fdMaster) != 0 || unlockpt(m_fdMaster) != 0 ||
        ptsname_r(m_fdMaster, name, sizeof name) != 0) {
        error = std::string("cannot prepare the pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    m_devicePath = name;
    // Mode changes through the master apply to the device side; raw from the
    // start so that nothing is echoed before the driver configures the port.
    termios tio{};
    if (tcgetattr(m_fdMaster, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_fdMaster, TCSANOW, &tio);
    }
    fcntl(m_fdMaster, F_SETFL, fcntl(m_fdMaster, F_GETFL) | O_NONBLOCK);
    m_fdDeviceKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fdDeviceKeep < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        close();
        return false;
    }
    return m_linkPath.empty() || pointLink(error);
}

// Replaced atomically, so that a driver reopening the port never finds the
// link missing.
bool PtyEndpoint::pointLink(std::string& error) const {
    const std::string temporary = m_linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(m_devicePath.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), m_linkPath.c_str()) != 0) {
        error = "cannot point " + m_linkPath + " at " + m_devicePath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void PtyEndpoint::close() {
    if (m_fdDeviceKeep >= 0) ::close(m_fdDeviceKeep);
    if (m_fdMaster >= 0) ::close(m_fdMaster);
    m_fdDeviceKeep = -1;
    m_fdMaster = -1;
}

uint32_t PtyEndpoint::lineBaud() const { return m_fdMaster >= 0 ? ReadLineBaud(m_fdMaster) : 0; }

}  // namespace sim
}  // namespace linkbay
