// Terminal settings through the kernel's termios2 interface, which takes any
// baud rate (128000 has no B-constant). Kept in its own file because the
// kernel header clashes with <termios.h>.
#pragma once

#include <cstdint>

namespace linkbay {
namespace platform {
namespace posix {

enum class TtyParity : uint8_t { None, Odd, Even, Mark, Space };

struct TtySettings {
    uint32_t baud = 0;
    uint8_t dataBits = 8;
    TtyParity parity = TtyParity::None;
    bool twoStopBits = false;
    bool parityCheck = false;  // input parity checking
    bool rtsCtsFlow = false;
    bool xonOutput = false;    // honour XON/XOFF from the peer
    bool xonInput = false;     // send XON/XOFF to the peer
    char xonChar = 0x11;
    char xoffChar = 0x13;
};

// Each returns 0 or an errno value.
int MakeTtyRaw(int fd);  // raw bytes, no echo, reads never wait (VMIN = VTIME = 0)
int ReadTtySettings(int fd, TtySettings* pSettings);
int WriteTtySettings(int fd, const TtySettings& settings);

}  // namespace posix
}  // namespace platform
}  // namespace linkbay
