// The Windows counterpart of pty_peer.cpp. Wine cannot make a pseudo-terminal,
// so the pty is one the native linkbay-pty-peers holds; this drives it over the
// loopback connection named by LINKBAY_PTY_PEERS ("127.0.0.1:PORT"), a request
// line and a reply line at a time (the requests are listed in
// tools/pty_peers.cpp).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "control_client.h"
#include "pty_peer.h"
#include "sim/pty_peer_protocol.h"

namespace linkbay {
namespace test {

namespace {

using sim::peer_protocol::FromHex;
using sim::peer_protocol::kMaxTransfer;
using sim::peer_protocol::ToHex;

// A connection to the peers program; none when the variable is missing or
// names no port.
std::unique_ptr<ControlClient> ConnectToPeers() {
    const char* pszAddress = getenv("LINKBAY_PTY_PEERS");
    const std::string sAddress = pszAddress != nullptr ? pszAddress : "";
    const size_t nColon = sAddress.rfind(':');
    const long nPort = nColon == std::string::npos ? 0 : strtol(sAddress.c_str() + nColon + 1, nullptr, 10);
    auto pControl = std::make_unique<ControlClient>();
    if (nPort <= 0 || nPort > 65535 || !pControl->connect(static_cast<uint16_t>(nPort))) {
        fprintf(stderr, "pty peer: no linkbay-pty-peers at LINKBAY_PTY_PEERS='%s'\n", sAddress.c_str());
        return nullptr;
    }
    return pControl;
}

// Sends one request; true when it is answered "ok", with what follows the
// "ok " in *psResult. A refusal is told on stderr, for the test's log.
bool Ask(ControlClient* pControl, const std::string& sRequest, std::string* psResult = nullptr) {
    if (pControl == nullptr) return false;
    std::string sReply = pControl->command(sRequest);
    while (!sReply.empty() && (sReply.back() == '\n' || sReply.back() == '\r')) sReply.pop_back();
    if (sReply == "ok" || sReply.rfind("ok ", 0) == 0) {
        if (psResult != nullptr) *psResult = sReply.size() > 3 ? sReply.substr(3) : std::string();
        return true;
    }
    fprintf(stderr, "pty peer: '%.40s' refused: %s\n", sRequest.c_str(), sReply.c_str());
    return false;
}

}  // namespace

PtyPeer::PtyPeer() : m_pControl(ConnectToPeers()) {}

PtyPeer::~PtyPeer() { hangUp(); }

bool PtyPeer::ok() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pControl != nullptr;
}

void PtyPeer::bindToPort(int nPort) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string sDevice;
    if (!Ask(m_pControl.get(), "open " + std::to_string(nPort), &sDevice)) return;
    m_nPort = nPort;
    m_sDevice = sDevice;
}

bool PtyPeer::write(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string sPrefix = "write " + std::to_string(m_nPort) + " ";
    for (size_t nDone = 0; nDone < bytes.size(); nDone += kMaxTransfer) {
        if (!Ask(m_pControl.get(), sPrefix + ToHex(bytes.substr(nDone, kMaxTransfer)))) return false;
    }
    return true;
}

std::string PtyPeer::read(size_t cbMax, int nTimeoutMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string sResult;
    // Each request ends after the same silence a single read would wait for,
    // so a run longer than one request continues only while it is full.
    while (sResult.size() < cbMax) {
        const size_t cbWant = std::min(kMaxTransfer, cbMax - sResult.size());
        std::string sHex;
        const size_t cbBefore = sResult.size();
        if (!Ask(m_pControl.get(),
                 "read " + std::to_string(m_nPort) + " " + std::to_string(cbWant) + " " + std::to_string(nTimeoutMs),
                 &sHex) ||
            !FromHex(sHex, &sResult) || sResult.size() - cbBefore < cbWant)
            break;
    }
    return sResult;
}

LineSettings PtyPeer::settings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    LineSettings settings;
    std::string sSettings;
    if (!Ask(m_pControl.get(), "settings " + std::to_string(m_nPort), &sSettings)) return settings;
    unsigned long nBaud = 0;
    char chParity = '?';
    if (sscanf(sSettings.c_str(), "%lu %d %c %d", &nBaud, &settings.dataBits, &chParity, &settings.stopBits) == 4) {
        settings.baud = static_cast<uint32_t>(nBaud);
        settings.parity = chParity;
    }
    return settings;
}

// Waits for the peers program to have closed the master, so that the device
// side sees the hang-up as soon as this returns; closing the connection would
// hang up every pty this peer opened too, but in its own time.
void PtyPeer::hangUp() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pControl != nullptr && m_nPort != 0) Ask(m_pControl.get(), "hangup " + std::to_string(m_nPort));
    m_pControl.reset();
}

bool BindPortToPath(int nPort, const std::string& sPath) {
    return Ask(ConnectToPeers().get(), "link " + std::to_string(nPort) + " " + sPath);
}

}  // namespace test
}  // namespace linkbay
