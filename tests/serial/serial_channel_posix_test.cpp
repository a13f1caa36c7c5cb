// The serial channel's debug messages, read through the POSIX layer's capture
// hook, and its closing of ports, seen through descriptor reuse: POSIX only.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/test_hooks.h"
#include "serial/genci.h"
#include "serial/serial_line.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

using Texts = std::vector<std::string>;

struct DebugLines {
    DebugLines() { platform::SetDebugCapture([](const char* s, void* p) { static_cast<Texts*>(p)->push_back(s); }, &texts); }
    ~DebugLines() { platform::SetDebugCapture(nullptr, nullptr); }
    Texts texts;
};

std::string SystemText(DWORD dwError) {
    char sz[128] = {};
    FormatMessageA(0x10FF, nullptr, dwError, 0x0400, sz, sizeof sz, nullptr);
    return sz;
}

HANDLE OpenFile(const std::string& sDir) {  // a handle that is no port
    return CreateFileA((sDir + "/plain").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
}

TEST(ComPort, InvalidHandlesFailWithoutMessage) {
    UseFreshEnvironment();
    ASSERT_TRUE(BindPortToPath(1, "/dev/linkbay-none"));
    DebugLines debug;
    char buffer[4];
    for (HANDLE h : {INVALID_HANDLE_VALUE, RS232CI::COMOpen(1)}) {
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(RS232CI::COMCheck(h) || RS232CI::COMWrite(h, "ab", 2) || RS232CI::COMRead(h, buffer, 2));
        RS232CI::COMPurge(h);
        RS232CI::COMClose(h);
    }
    EXPECT_EQ(debug.texts, Texts{});
}

TEST(ComPort, FailedTransfersWriteOneLevelZeroLine) {
    const std::string sGone = SystemText(ERROR_DEVICE_NOT_CONNECTED) + "\r\n";
    const struct { bool bRead, bHangUp; std::string sExpected; } cases[] = {
        {true, false, "RS232CI::COMRead(): Incomplete ReadFile(), wanted 10, got 4\r\n"},
        {true, true, "RS232CI::COMRead(): ReadFile() failed, " + sGone},
        {false, true, "RS232CI::COMWrite(): WriteFile() failed, " + sGone},
    };
    for (const auto& c : cases) {
        UseFreshEnvironment();
        Line line(2);
        ASSERT_TRUE(line.peer.write("abcd"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (c.bHangUp) line.peer.hangUp();
        DebugLines debug;
        char buffer[10];
        EXPECT_FALSE(c.bRead ? RS232CI::COMRead(line.hPort, buffer, 10) : RS232CI::COMWrite(line.hPort, buffer, 10));
        EXPECT_EQ(debug.texts, Texts{c.sExpected});
        RS232CI::COMClose(line.hPort);
    }
}

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
            hFiller = OpenFile(sDir);  // takes the peer's freed, lower descriptor
            EXPECT_FALSE(pDriver->IsUnitPresent(1));
        }
        if (loss == kDetach) pDriver->Detach();
        if (loss == kDestruction) pDriver.reset();
        const HANDLE hFile = OpenFile(sDir);
        ASSERT_EQ(hFile, line.hPort) << "loss " << loss << ": the port was not closed";
        if (pDriver) pDriver->Detach();
        pDriver.reset();
        DWORD cb = 0;
        EXPECT_TRUE(WriteFile(hFile, "x", 1, &cb, nullptr)) << "loss " << loss;
        CloseHandle(hFile);
        RS232CI::COMClose(hFiller);
    }
}

TEST(GENCI, AttachReportsTheFirstFailingStepOnly) {
    const std::string sDir = UseFreshEnvironment();
    Line line(1);
    const HANDLE hFile = OpenFile(sDir);
    const std::string sError = SystemText(ERROR_INVALID_FUNCTION);
    EXPECT_NE(sError, "");
    const struct { HANDLE hPort; Texts expected; } cases[] = {
        {line.hPort, {}},
        {hFile, {"GENCI::Attach(): Error in SetupComm():\r\n    ", sError, "\r\n"}},
    };
    for (const auto& c : cases) {
        DebugLines debug;
        GENCI driver(98);
        driver.Attach(c.hPort);
        EXPECT_EQ(debug.texts, c.expected);
        EXPECT_EQ(driver.m_hPort, c.hPort);  // kept, and closed with the driver
    }
}

TEST(DebugOutput, PrintsUpToTheLevelCutsAt255AndErrorTextFitsItsBuffer) {
    EXPECT_EQ(g_nDebugLevel, 0);
    const std::string sLong(5000, 'm');
    const struct { int32_t nDebugLevel, nLevel; size_t cchText; Texts expected; } cases[] = {
        {0, 0, 2, {"X: mm\r\n"}}, {0, 1, 2, {}}, {1, 1, 2, {"X: mm\r\n"}}, {1, 2, 2, {}},
        {0, 0, 250, {"X: " + sLong.substr(0, 250) + "\r\n"}},  // 255 characters: whole
        {0, 0, 251, {"X: " + sLong.substr(0, 251) + "\r"}}, {0, 0, 5000, {"X: " + sLong.substr(0, 252)}},
    };
    for (const auto& c : cases) {
        g_nDebugLevel = c.nDebugLevel;
        DebugLines debug;
        DebugPrint(c.nLevel, "X: %s\r\n", sLong.c_str() + sLong.size() - c.cchText);
        EXPECT_EQ(debug.texts, c.expected) << c.cchText;
    }
    g_nDebugLevel = 0;
    for (int32_t nSize : {128, 4, 0, -3}) {  // the text, too small, no buffer
        char szBuffer[132] = "####";
        SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(ErrorText(szBuffer, nSize), szBuffer);
        EXPECT_EQ(szBuffer, nSize == 128 ? SystemText(ERROR_ACCESS_DENIED) : nSize == 4 ? "" : "####");
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
