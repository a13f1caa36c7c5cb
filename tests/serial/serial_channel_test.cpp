// The serial channel against pty peers through the real platform layer, and
// its debug messages as a debug viewer sees them. The case that relies on
// the POSIX layer's descriptor numbers is in serial_channel_posix_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/genci.h"
#include "serial/serial_line.h"
#include "support/debug_sink.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

constexpr WordEntry kVerbs[] = {{"SHOW", 2, 2}};
constexpr WordEntry kNouns[] = {{"VERSION", 5, 4}};
constexpr RangeEntry kRanges[] = {{0, 0}};
constexpr CommandEntry kShow[] = {{2, 5, 0, 70, 0, 0, {0, 0, 0, 0}}};
constexpr CommandSet kTinySet = {kVerbs, 1, kNouns, 1, nullptr, 0, kRanges, 1, nullptr, 0, kShow, 1, nullptr, 0, 1, 2};

// Records what reaches ExecCmd and answers with a fixed result.
struct TinyDriver : RS232CI {
    explicit TinyDriver(bool bResult)
        : RS232CI(kTinySet, 97),
          bResult(bResult) {}
    void Attach(HANDLE) override {}
    bool IsActive(int32_t, int32_t*) override { return false; }
    int32_t ReadData(int32_t, int32_t, int32_t, int32_t, uint32_t*) override { return 1; }
    int32_t WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) override { return 1; }
    bool ExecCmd(ParsedCommand& cmd, int32_t nSize, char*, int32_t* pnLen, int32_t* pnMac, int32_t*) override {
        seen = {cmd.nCode, nSize, *pnMac};
        *pnLen = 9;
        return bResult;
    }
    bool bResult;
    std::vector<int32_t> seen;  // code, buffer size, mac
};

TEST(RS232CI, ExecLineParsesThenRunsTheDriversCommand) {
    const struct { int32_t nDet; const char* pszLine; bool bExec, bReturns; std::vector<int32_t> outs, seen; } cases[] = {
        {2, "SHOW_VERS", true, false, {55, -1, 77}, {}},  // not served: only mac is written
        {1, "", true, true, {55, 0, 0}, {}},              // blank: the parser's 0/0
        {1, "BOGUS", true, true, {55, 129, 1}, {}},       // rejected: the parser's pair
        {1, "SHOW_VERSION", true, true, {9, 66, 77}, {70, 8, 66}},
        {1, "SHOW_VERS", false, false, {9, 66, 77}, {70, 8, 66}},
    };
    for (const auto& c : cases) {
        TinyDriver driver(c.bExec);
        int32_t nLen = 55, nMac = 66, nMic = 77;
        char szResp[8];
        EXPECT_EQ(driver.ExecLine(c.nDet, c.pszLine, 8, szResp, &nLen, &nMac, &nMic), c.bReturns) << c.pszLine;
        EXPECT_EQ(std::vector<int32_t>({nLen, nMac, nMic}), c.outs) << c.pszLine;
        EXPECT_EQ(driver.seen, c.seen) << c.pszLine;
    }
    TinyDriver driver(true);
    EXPECT_TRUE(driver.ExecLine(1, "SHOW_VERS", 100, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(driver.seen, std::vector<int32_t>({70, 0, 0}));  // no buffer is a 0-byte buffer
}

TEST(RS232CI, UnitCheckOfDetector2NeverTouchesThePort) {
    UseFreshEnvironment();
    Line line(1);
    GENCI driver(97);
    EXPECT_FALSE(driver.IsUnitPresent(1));  // no port yet
    driver.Attach(line.hPort);
    ASSERT_TRUE(line.peer.write("keep"));
    EXPECT_FALSE(driver.IsUnitPresent(2));
    EXPECT_TRUE(driver.IsUnitPresent(1));
    char buffer[5] = {};
    EXPECT_TRUE(RS232CI::COMRead(line.hPort, buffer, 4) && std::string(buffer) == "keep");
    line.peer.hangUp();
    EXPECT_FALSE(driver.IsUnitPresent(2));
    COMMTIMEOUTS timeouts;
    EXPECT_TRUE(GetCommTimeouts(line.hPort, &timeouts));  // still open: a check would have closed it
    if (!Applies(Holds::NotUnderWine)) GTEST_SKIP() << "Wine reads a hung-up pty as a quiet line, not a lost device";
    EXPECT_FALSE(driver.IsUnitPresent(1));
    EXPECT_EQ(driver.m_hPort, INVALID_HANDLE_VALUE);
}

TEST(GENCI, AttachSets9600EightNoneOneAndTheTimeouts) {
    UseFreshEnvironment();
    Line line(1);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(line.hPort, &dcb);
    dcb.BaudRate = 19200;  // so that Attach has something to change
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(SetCommState(line.hPort, &dcb));
    GENCI driver(97);
    driver.Attach(line.hPort);
    const LineSettings s = line.peer.settings();
    EXPECT_EQ(std::to_string(s.baud) + s.parity + std::to_string(s.dataBits) + std::to_string(s.stopBits), "9600N81");
    COMMTIMEOUTS t{};
    GetCommTimeouts(line.hPort, &t);
    EXPECT_EQ(std::vector<DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({1000, 5, 0, 0, 5000}));
}

TEST(GENCI, AnswersNoCommandAndTouchesNothingElse) {
    GENCI driver(97);
    for (int32_t nDet : {1, 2}) {
        for (const char* pszLine : {"SHOW_VERS", "", "BOGUS 1,2"}) {
            int32_t nLen = 55, nMac = 66, nMic = 77;
            char szResp[8] = "resp";
            EXPECT_FALSE(driver.ExecLine(nDet, pszLine, 8, szResp, &nLen, &nMac, &nMic));
            EXPECT_EQ(std::to_string(nLen) + std::to_string(nMac) + std::to_string(nMic) + szResp, "55-177resp");
        }
        int32_t nStatus = 12345;
        EXPECT_EQ(driver.IsActive(nDet, &nStatus), nDet == 1);
        EXPECT_EQ(nStatus, nDet == 1 ? -3 : -1);
    }
    uint32_t dwData[3] = {7, 8, 9};
    EXPECT_EQ(driver.ReadData(1, 0, 0, 3, dwData), 1);
    EXPECT_EQ(std::vector<uint32_t>(dwData, dwData + 3), std::vector<uint32_t>({7, 8, 9}));
    EXPECT_EQ(driver.WriteData(1, 0, 0, 3, 0, dwData), 1);
}

// ---- messages -------------------------------------------------------------------

std::string SystemText(DWORD dwError) {
    char sz[128] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                   dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, sizeof sz, nullptr);
    return sz;
}

TEST(ComPort, InvalidHandlesFailWithoutMessage) {
    UseFreshEnvironment();
    // Not COM1: where its link leads nowhere, Wine falls back to /dev/ttyS0.
    ASSERT_TRUE(BindPortToPath(3, "/dev/linkbay-none"));
    const std::string sText = DebugTextOf([] {
        char buffer[4];
        for (HANDLE h : {INVALID_HANDLE_VALUE, RS232CI::COMOpen(3)}) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_FALSE(RS232CI::COMCheck(h) || RS232CI::COMWrite(h, "ab", 2) || RS232CI::COMRead(h, buffer, 2));
            RS232CI::COMPurge(h);
            RS232CI::COMClose(h);
        }
    });
    EXPECT_EQ(sText, "");
}

TEST(ComPort, FailedTransfersWriteOneLevelZeroLine) {
    const std::string sGone = SystemText(ERROR_DEVICE_NOT_CONNECTED) + "\r\n";
    const struct {
        bool bRead, bHangUp;
        std::string sExpected;
    } cases[] = {
        {true, false, "RS232CI::COMRead(): Incomplete ReadFile(), wanted 10, got 4\r\n"},
        {true, true, "RS232CI::COMRead(): ReadFile() failed, " + sGone},
        {false, true, "RS232CI::COMWrite(): WriteFile() failed, " + sGone},
    };
    for (const auto& c : cases) {
        // Wine reads a hung-up pty as a quiet line and writes into it unhindered.
        if (c.bHangUp && !Applies(Holds::NotUnderWine)) continue;
        UseFreshEnvironment();
        Line line(2);
        ASSERT_TRUE(line.peer.write("abcd"));  // within the read's 500 ms
        if (c.bHangUp) line.peer.hangUp();
        const std::string sText = DebugTextOf([&] {
            char buffer[10];
            EXPECT_FALSE(c.bRead ? RS232CI::COMRead(line.hPort, buffer, 10) : RS232CI::COMWrite(line.hPort, buffer, 10));
        });
        EXPECT_EQ(sText, c.sExpected);
        RS232CI::COMClose(line.hPort);
    }
}

TEST(GENCI, AttachReportsTheFirstFailingStepOnly) {
    const std::string sDir = UseFreshEnvironment();
    Line line(1);
    const HANDLE hFile = OpenPlainFile(sDir);
    // Windows says ERROR_INVALID_FUNCTION to comm calls on a file; Wine words it otherwise.
    const std::string sError = Applies(Holds::NotUnderWine) ? SystemText(ERROR_INVALID_FUNCTION) + "\r\n" : "";
    const struct {
        HANDLE hPort;
        std::string sExpected;
    } cases[] = {
        {line.hPort, ""},
        {hFile, "GENCI::Attach(): Error in SetupComm():\r\n    " + sError},
    };
    for (const auto& c : cases) {
        std::string sText;
        {
            GENCI driver(98);
            sText = DebugTextOf([&] { driver.Attach(c.hPort); });
            EXPECT_EQ(driver.m_hPort, c.hPort);  // kept, and closed with the driver
        }
        if (sError.empty() && !c.sExpected.empty()) {
            EXPECT_EQ(sText.compare(0, c.sExpected.size(), c.sExpected), 0) << sText;
            EXPECT_EQ(sText.substr(sText.size() - 2), "\r\n");
        } else {
            EXPECT_EQ(sText, c.sExpected);
        }
    }
}

TEST(DebugOutput, PrintsUpToTheLevelCutsAt255AndErrorTextFitsItsBuffer) {
    EXPECT_EQ(g_nDebugLevel, 0);
    const std::string sLong(5000, 'm');
    const struct {
        int32_t nDebugLevel, nLevel;
        size_t cchText;
        std::string sExpected;
    } cases[] = {
        {0, 0, 2, "X: mm\r\n"},
        {0, 1, 2, ""},
        {1, 1, 2, "X: mm\r\n"},
        {1, 2, 2, ""},
        {0, 0, 250, "X: " + sLong.substr(0, 250) + "\r\n"},  // 255 characters: whole
        {0, 0, 251, "X: " + sLong.substr(0, 251) + "\r"},
        {0, 0, 5000, "X: " + sLong.substr(0, 252)},
    };
    for (const auto& c : cases) {
        g_nDebugLevel = c.nDebugLevel;
        const std::string sText =
            DebugTextOf([&] { DebugPrint(c.nLevel, "X: %s\r\n", sLong.c_str() + sLong.size() - c.cchText); });
        EXPECT_EQ(sText, c.sExpected) << c.cchText;
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
