#include "sim/pty_endpoint.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "sim/line_settings.h"

namespace linkbay {
namespace sim {

PtyEndpoint::~PtyEndpoint() { close(); }

bool PtyEndpoint::open(const std::string& linkPath, std::string& error) {
    close();
    m_linkPath = linkPath;
    if (!m_master.open(error)) return false;
    m_fdDeviceKeep = ::open(devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fdDeviceKeep < 0) {
        error = "cannot open " + devicePath() + ": " + std::strerror(errno);
        close();
        return false;
    }
    return m_linkPath.empty() || PointLinkAt(m_linkPath, devicePath(), error);
}

void PtyEndpoint::close() {
    if (m_fdDeviceKeep >= 0) ::close(m_fdDeviceKeep);
    m_fdDeviceKeep = -1;
    m_master.close();
}

// The driver may pick rates without a termios constant (128000): only the
// kernel's arbitrary-rate record tells those.
uint32_t PtyEndpoint::lineBaud() const { return isOpen() ? ReadLineSettings(masterFd()).baud : 0; }

}  // namespace sim
}  // namespace linkbay
