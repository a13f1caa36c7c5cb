// A terminal's line settings through the kernel's termios2 record, which
// holds any baud rate (128000, 250000 ...), not only those with a B constant.
// The record is for the simulator, the test peers and the pty tools alike;
// the struct alone is also what Windows test programs read from their peers.
#pragma once

#include <cstdint>

namespace linkbay {
namespace sim {

struct LineSettings {
    uint32_t baud = 0;
    int dataBits = 0;
    char parity = '?';  // 'N', 'E', 'O'
    int stopBits = 0;
};

// Through either end of a pty: the master reads what the device side set.
// All fields as they are by default when the descriptor is no terminal.
LineSettings ReadLineSettings(int fd);
// Sets input and output rate to baud, whatever it is; false when refused.
bool SetLineBaud(int fd, uint32_t baud);

}  // namespace sim
}  // namespace linkbay
