// Kept apart: the kernel's termios2 header clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "sim/pty_endpoint.h"

namespace linkbay {
namespace sim {

// The driver may pick rates without a termios constant (128000): only the
// kernel's arbitrary-rate record tells those.
uint32_t ReadLineBaud(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

}  // namespace sim
}  // namespace linkbay
