// The far end of a serial line in tests: a pseudo-terminal master that the
// code under test reaches as a COM port through LINKBAY_COMn.
#pragma once

#include <cstdint>
#include <string>

namespace linkbay {
namespace test {

struct LineSettings {
    uint32_t baud = 0;
    int dataBits = 0;
    char parity = '?';  // 'N', 'E', 'O'
    int stopBits = 0;
};

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return m_fdMaster >= 0; }
    const std::string& devicePath() const { return m_sDevice; }
    // Points LINKBAY_COMn of this process at the device.
    void bindToPort(int nPort) const;

    bool write(const std::string& bytes);
    // Reads what arrives within the time limit, up to cbMax bytes.
    std::string read(size_t cbMax, int nTimeoutMs);
    // Bytes the device side has written that the peer has not read yet.
    size_t pendingFromDevice() const;
    LineSettings settings() const;
    // Closes the master: the device side sees a hang-up.
    void hangUp();

private:
    int m_fdMaster = -1;
    std::string m_sDevice;
};

// Reads the line settings of a terminal through the descriptor given.
LineSettings ReadLineSettings(int fd);

}  // namespace test
}  // namespace linkbay
