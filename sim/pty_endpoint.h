// The instrument's end of a serial line: a pseudo-terminal master whose
// device side a driver opens as its port.
#pragma once

#include <cstdint>
#include <string>

#include "sim/pseudo_terminal.h"

namespace linkbay {
namespace sim {

class PtyEndpoint {
public:
    PtyEndpoint() = default;
    ~PtyEndpoint();
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    // Creates a fresh pty in raw mode; points the link (when one was given)
    // at its device. Returns false with a message in error.
    bool open(const std::string& linkPath, std::string& error);
    // Drops the line: the driver's port sees a hang-up.
    void close();
    bool isOpen() const { return m_master.isOpen(); }

    int masterFd() const { return m_master.fd(); }
    const std::string& devicePath() const { return m_master.devicePath(); }
    const std::string& linkPath() const { return m_linkPath; }
    // Baud rate the driver set on its side of the line (0 when unknown).
    uint32_t lineBaud() const;

private:
    PtyMaster m_master;
    // Our own handle on the device side: keeps the master readable while no
    // driver has the port open, instead of reporting a hang-up.
    int m_fdDeviceKeep = -1;
    std::string m_linkPath;
};

}  // namespace sim
}  // namespace linkbay
