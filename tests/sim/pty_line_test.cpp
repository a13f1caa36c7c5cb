// The pty and termios2 helpers that the simulator, the test peers and the
// pty tools share.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "sim/line_settings.h"
#include "sim/pseudo_terminal.h"

namespace linkbay {
namespace test {
namespace {

// Rates with and without a B constant, as drivers set them on the device
// side; and a write nobody reads ends once the line is full.
TEST(PtyLine, TheMasterSeesAnyRateAndGivesUpWritingToNobody) {
    sim::PtyMaster master;
    std::string error;
    ASSERT_TRUE(master.open(error)) << error;
    const int device = open(master.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(device, 0);
    for (uint32_t baud : {9600u, 128000u, 250000u, 3000000u}) {
        ASSERT_TRUE(sim::SetLineBaud(device, baud)) << baud;
        const sim::LineSettings seen = sim::ReadLineSettings(master.fd());
        EXPECT_EQ(seen.baud, baud);
        // Raw from the start: 8 data bits, no parity, one stop bit.
        EXPECT_EQ(std::to_string(seen.dataBits) + seen.parity + std::to_string(seen.stopBits), "8N1");
    }
    const std::string bytes(1 << 20, 'x');
    size_t written = 0;
    EXPECT_EQ(sim::WriteAsTaken(master.fd(), bytes.data(), bytes.size(), 50, written), sim::WriteEnd::kIdle);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, bytes.size());
    close(device);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
