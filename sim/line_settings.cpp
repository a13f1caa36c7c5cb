// Kept apart: the kernel's termios2 header clashes with <termios.h>.
#include "sim/line_settings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace linkbay {
namespace sim {

LineSettings ReadLineSettings(int fd) {
    LineSettings settings;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return settings;
    settings.baud = tio.c_ospeed;
    // CS5 ... CS8 are 0 to 3 steps of CS6 on every architecture.
    settings.dataBits = 5 + static_cast<int>((tio.c_cflag & CSIZE) / CS6);
    settings.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 'O' : 'E') : 'N';
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return settings;
}

bool SetLineBaud(int fd, uint32_t baud) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag = (tio.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace sim
}  // namespace linkbay
