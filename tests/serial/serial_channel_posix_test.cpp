// The serial channel's closing of ports, seen through descriptor reuse: POSIX only.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "serial/genci.h"
#include "serial/serial_line.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

// The next handle opened gets the freed descriptor and thus the same value,
// so a second close would take it away.
TEST(RS232CI, PortIsClosedExactlyOnce) {
    enum Loss { kDetach, kFailedCheck, kDestruction };
    for (Loss loss : {kDetach, kFailedCheck, kDestruction}) {
        const std::string sDir = UseFreshEnvironment();
        Line line(3);
        auto pDriver = std::make_unique<GENCI>(99);
        pDriver->Attach(line.hPort);
        HANDLE hFiller = INVALID_HANDLE_VALUE;
        if (loss == kFailedCheck) {
            line.peer.hangUp();
            hFiller = OpenPlainFile(sDir);  // takes the peer's freed, lower descriptor
            EXPECT_FALSE(pDriver->IsUnitPresent(1));
        }
        if (loss == kDetach) pDriver->Detach();
        if (loss == kDestruction) pDriver.reset();
        const HANDLE hFile = OpenPlainFile(sDir);
        ASSERT_EQ(hFile, line.hPort) << "loss " << loss << ": the port was not closed";
        if (pDriver) pDriver->Detach();
        pDriver.reset();
        DWORD cb = 0;
        EXPECT_TRUE(WriteFile(hFile, "x", 1, &cb, nullptr)) << "loss " << loss;
        CloseHandle(hFile);
        RS232CI::COMClose(hFiller);
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
