// Kept apart from pty_peer.cpp: the kernel's termios2 header clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "pty_peer.h"

namespace linkbay {
namespace test {

LineSettings ReadLineSettings(int fd) {
    LineSettings settings;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return settings;
    settings.baud = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5: settings.dataBits = 5; break;
    case CS6: settings.dataBits = 6; break;
    case CS7: settings.dataBits = 7; break;
    default: settings.dataBits = 8; break;
    }
    settings.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 'O' : 'E') : 'N';
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return settings;
}

}  // namespace test
}  // namespace linkbay
