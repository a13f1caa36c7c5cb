// The far end of a serial line in tests: a pseudo-terminal master that the
// code under test reaches as a COM port through LINKBAY_COMn. The Windows
// build, which has no pseudo-terminals, drives one held by the native
// linkbay-pty-peers at the loopback address in LINKBAY_PTY_PEERS, and its
// COMn is the Wine prefix's link to that pty.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim/line_settings.h"

namespace linkbay {
namespace test {

class ControlClient;
using sim::LineSettings;

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const;
    // Makes COMn of this process reach the peer. On Windows that is a fresh
    // pty for COMn (for this and every other process of the prefix), and the
    // peer is the far end of the port it was bound to last.
    void bindToPort(int nPort);

    bool write(const std::string& bytes);
    // Reads what arrives within the time limit, up to cbMax bytes.
    std::string read(size_t cbMax, int nTimeoutMs);
    LineSettings settings() const;
    // Closes the master: the device side sees a hang-up.
    void hangUp();

private:
    int m_fdMaster = -1;
    std::string m_sDevice;
    // The Windows build's: the connection to the native peer, the port its
    // requests name, and one request at a time on it.
    std::unique_ptr<ControlClient> m_pControl;
    int m_nPort = 0;
    mutable std::mutex m_mutex;
};

// Makes COMn of this process open the path given, whatever it is.
bool BindPortToPath(int nPort, const std::string& sPath);

}  // namespace test
}  // namespace linkbay
