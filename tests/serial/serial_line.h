// A pty peer bound to COMn and the port opened on it, for the serial channel
// tests (serial_channel_test.cpp, serial_channel_posix_test.cpp).
#pragma once

#include <string>

#include "serial/rs232ci.h"
#include "support/pty_peer.h"

namespace linkbay {
namespace test {

struct Line {
    explicit Line(int nPort) {
        peer.bindToPort(nPort);
        hPort = RS232CI::COMOpen(nPort);
        COMMTIMEOUTS timeouts = {100, 0, 500, 0, 500};
        SetCommTimeouts(hPort, &timeouts);
    }
    PtyPeer peer;
    HANDLE hPort;
};

inline HANDLE OpenPlainFile(const std::string& sDir) {  // a handle that is no port
    return CreateFileA((sDir + "/plain").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
}

}  // namespace test
}  // namespace linkbay
