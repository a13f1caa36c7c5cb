#include "pty_peer.h"

#include "control_client.h"  // unused here, but the member's type must be complete

#include <cstdlib>
#include <unistd.h>

#include "sim/pseudo_terminal.h"

namespace linkbay {
namespace test {

PtyPeer::PtyPeer() {
    std::string sError;
    m_fdMaster = sim::OpenRawPtyMaster(m_sDevice, sError);
}

PtyPeer::~PtyPeer() { hangUp(); }

bool PtyPeer::ok() const { return m_fdMaster >= 0; }

void PtyPeer::bindToPort(int nPort) { BindPortToPath(nPort, m_sDevice); }

bool BindPortToPath(int nPort, const std::string& sPath) {
    const std::string sName = "LINKBAY_COM" + std::to_string(nPort);
    return setenv(sName.c_str(), sPath.c_str(), 1) == 0;
}

bool PtyPeer::write(const std::string& bytes) {
    size_t cbWritten = 0;
    return sim::WriteAsTaken(m_fdMaster, bytes.data(), bytes.size(), 1000, cbWritten) == sim::WriteEnd::kDone;
}

std::string PtyPeer::read(size_t cbMax, int nTimeoutMs) { return sim::ReadUntilQuiet(m_fdMaster, cbMax, nTimeoutMs); }

LineSettings PtyPeer::settings() const { return sim::ReadLineSettings(m_fdMaster); }

void PtyPeer::hangUp() {
    if (m_fdMaster >= 0) close(m_fdMaster);
    m_fdMaster = -1;
}

}  // namespace test
}  // namespace linkbay
