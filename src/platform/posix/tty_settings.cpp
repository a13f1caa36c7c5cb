#include "tty_settings.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace linkbay {
namespace platform {
namespace posix {
namespace {

int GetTermios(int fd, struct termios2* pTio) { return ioctl(fd, TCGETS2, pTio) == 0 ? 0 : errno; }

int SetTermios(int fd, const struct termios2& tio) {
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

tcflag_t SizeFlag(uint8_t dataBits) {
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

uint8_t DataBits(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

TtyParity ParityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) return TtyParity::None;
    const bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) return odd ? TtyParity::Mark : TtyParity::Space;
    return odd ? TtyParity::Odd : TtyParity::Even;
}

tcflag_t ParityFlags(TtyParity parity) {
    switch (parity) {
    case TtyParity::Odd: return PARENB | PARODD;
    case TtyParity::Even: return PARENB;
    case TtyParity::Mark: return PARENB | PARODD | CMSPAR;
    case TtyParity::Space: return PARENB | CMSPAR;
    case TtyParity::None: break;
    }
    return 0;
}

}  // namespace

int MakeTtyRaw(int fd) {
    struct termios2 tio {};
    if (const int err = GetTermios(fd, &tio)) return err;
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return SetTermios(fd, tio);
}

int ReadTtySettings(int fd, TtySettings* pSettings) {
    struct termios2 tio {};
    if (const int err = GetTermios(fd, &tio)) return err;
    TtySettings& s = *pSettings;
    s.baud = tio.c_ospeed;
    s.dataBits = DataBits(tio.c_cflag);
    s.parity = ParityOf(tio.c_cflag);
    s.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    s.parityCheck = (tio.c_iflag & INPCK) != 0;
    s.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    s.xonOutput = (tio.c_iflag & IXON) != 0;
    s.xonInput = (tio.c_iflag & IXOFF) != 0;
    s.xonChar = static_cast<char>(tio.c_cc[VSTART]);
    s.xoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return 0;
}

int WriteTtySettings(int fd, const TtySettings& s) {
    struct termios2 tio {};
    if (const int err = GetTermios(fd, &tio)) return err;
    tio.c_cflag &= ~(CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= BOTHER | SizeFlag(s.dataBits) | ParityFlags(s.parity) | CLOCAL | CREAD;
    if (s.twoStopBits) tio.c_cflag |= CSTOPB;
    if (s.rtsCtsFlow) tio.c_cflag |= CRTSCTS;
    // Input speed follows the output speed, as a Windows port has one rate.
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    tio.c_ispeed = s.baud;
    tio.c_ospeed = s.baud;
    tio.c_iflag &= ~(INPCK | IXON | IXOFF);
    if (s.parityCheck) tio.c_iflag |= INPCK;
    if (s.xonOutput) tio.c_iflag |= IXON;
    if (s.xonInput) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    return SetTermios(fd, tio);
}

}  // namespace posix
}  // namespace platform
}  // namespace linkbay
