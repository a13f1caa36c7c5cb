// linkbay-pty-peers N: the far ends of N serial lines as native processes
// beside a Windows build under Wine. It opens N pseudo-terminals, prints
// "COMn DEVICE" for each, then drains what the devices send until its
// standard input closes. The Wine lane links $WINEPREFIX/dosdevices/comN to
// the devices.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/pty_peer.h"

int main(int argc, char** argv) {
    const int nPorts = argc > 1 ? atoi(argv[1]) : 5;
    if (nPorts < 1 || nPorts > 9) {
        fprintf(stderr, "usage: %s [PORTS 1..9]\n", argv[0]);
        return 2;
    }
    std::vector<std::unique_ptr<linkbay::test::PtyPeer>> peers;
    for (int n = 1; n <= nPorts; ++n) {
        peers.push_back(std::make_unique<linkbay::test::PtyPeer>());
        if (!peers.back()->ok()) {
            fprintf(stderr, "%s: cannot open a pseudo-terminal for COM%d\n", argv[0], n);
            return 1;
        }
        printf("COM%d %s\n", n, peers.back()->devicePath().c_str());
    }
    fflush(stdout);
    for (;;) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, 50) > 0) {
            char buffer[256];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) return 0;
        }
        for (auto& peer : peers) peer->read(4096, 0);
    }
}
