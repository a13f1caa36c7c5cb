// The KORV driver against the simulated instrument where the test steers the
// POSIX layer's tick count or looks at the line from the device side. The
// program's own main also serves as the second process of the shared-cache
// case, so that no test exists only to be that process.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "cmdlang/result_codes.h"
#include "drivers/korv_rig.h"
#include "platform/test_hooks.h"
#include "support/child_process.h"
#include "support/pty_peer.h"

namespace linkbay {
namespace test {
namespace {

const char kReadAtTick[] = "--korv-read-at-tick";

DWORD g_dwTick = 0;
DWORD FixedTick(void*) { return g_dwTick; }

// The other process: the MCB's first channels read at the tick given, with
// no port of its own, printed as "READ result counts...".
int ReadAsOtherProcess(const char* pszTick) {
    g_dwTick = static_cast<DWORD>(std::strtoul(pszTick, nullptr, 10));
    platform::SetTickSource(FixedTick, nullptr);
    KORVCI reader(kMcb);
    uint32_t dwData[4] = {};
    const int32_t nResult = reader.ReadData(1, 0, 0, 4, dwData);
    std::printf("READ %d %u %u %u %u\n", nResult, dwData[0], dwData[1], dwData[2], dwData[3]);
    return 0;
}

std::string ReadInOtherProcess(DWORD dwTick) {
    char szSelf[PATH_MAX] = {};
    if (readlink("/proc/self/exe", szSelf, sizeof szSelf - 1) <= 0) return "no program";
    ChildProcess reader(szSelf, {kReadAtTick, std::to_string(dwTick)});
    for (std::string sLine = reader.readLine(); !sLine.empty(); sLine = reader.readLine()) {
        if (StartsWith(sLine, "READ ")) return sLine;
    }
    return "no answer";
}

TEST(KorvSpectrum, ReadsWithin500MsShareOneTransferAcrossProcesses) {
    platform::SetTickSource(FixedTick, nullptr);
    const std::pair<DWORD, long> cases[] = {{400, 1}, {500, 1}, {600, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        SimRig rig;
        std::vector<uint32_t> counts(16);
        for (uint32_t i = 0; i < counts.size(); ++i) counts[i] = Pattern(i, 65536);
        rig.SetCounts(counts);
        uint32_t dwData[16];
        g_dwTick = 0xFFFFFF00u;  // the tick count wraps between the reads
        ASSERT_EQ(rig.ReadData(16, dwData), 1);
        g_dwTick += c.first;
        // Within 500 ms the other process is served from the shared data;
        // later it must go to the instrument, which it has no port for.
        const std::string sShared = "READ 1 " + std::to_string(counts[0]) + " " + std::to_string(counts[1]) + " " +
                                    std::to_string(counts[2]) + " " + std::to_string(counts[3]);
        EXPECT_EQ(ReadInOtherProcess(g_dwTick), c.second == 1 ? sShared : "READ -3 0 0 0 0");
        EXPECT_EQ(rig.ReadData(16, dwData), 1);
        const std::string sSent = rig.Sent();
        long nTransfers = 0;
        for (size_t n = sSent.find("fb\r"); n != std::string::npos; n = sSent.find("fb\r", n + 1)) ++nTransfers;
        EXPECT_EQ(nTransfers, c.second);
        EXPECT_EQ(dwData[3], counts[3]);
    }
    platform::SetTickSource(nullptr, nullptr);
}

TEST(KorvLink, TheLineCarriesEightBitsWithoutParityAndOneStopBit) {
    SimRig rig(true, "19200");
    const std::string sDevice = OkValue(rig.Control("path"));
    const int fd = open(sDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << sDevice << ": " << std::strerror(errno);
    const LineSettings line = sim::ReadLineSettings(fd);
    close(fd);
    EXPECT_EQ(line.baud, 19200u);
    EXPECT_EQ(std::string(1, line.parity) + std::to_string(line.dataBits) + std::to_string(line.stopBits), "N81");
}

// A preset the instrument took but DETHUB.INI did not keep is not answered
// as done. The temporary file's name is taken by a directory, which stops
// root as well.
TEST(KorvCommands, AnIntegralPresetNotStoredIsAnsweredAsAnError) {
    SimRig rig;
    const std::string sTemp = ProfileDirectory() + "/.DETHUB.INI." + std::to_string(getpid()) + ".tmp";
    ASSERT_EQ(mkdir(sTemp.c_str(), 0700), 0);
    const size_t nMark = rig.DebugMark();
    ExpectResult(rig.Exec("SET_INTEGRAL_PRESET 1000"), BadLine(kMicNotStored));
    EXPECT_NE(rig.DebugTextSince(nMark).find("KRIntPreset of [M97S01] was not stored"), std::string::npos)
        << rig.DebugTextSince(nMark);
    rmdir(sTemp.c_str());
    ExpectResult(rig.Exec("SET_INTEGRAL_PRESET 1000"), kDone);
}

}  // namespace
}  // namespace test
}  // namespace linkbay

// Ahead of GoogleTest's own main in the link: the argument makes this
// program the other process of the shared-cache case instead.
int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], linkbay::test::kReadAtTick) == 0) {
        return linkbay::test::ReadAsOtherProcess(argv[2]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
