// The serial channel against pty peers through the real platform layer. The
// cases that read the debug output through the POSIX layer's capture hook,
// or rely on its descriptor numbers, are in serial_channel_posix_test.cpp.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/genci.h"
#include "serial/serial_line.h"
#include "support/child_process.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

TEST(ComPort, OpenGivesTheNumberedPortUnlessAnotherProcessHoldsIt) {
    for (bool bHeld : {false, true}) {
        if (bHeld && !Applies(Holds::NotUnderWine)) continue;  // Wine lets a second exclusive open through
        UseFreshEnvironment();
        PtyPeer peer;
        peer.bindToPort(1);
        std::optional<ChildProcess> other;
        if (bHeld) {
            other.emplace(std::vector<std::string>{"open-port", "1"});
            ASSERT_EQ(other->readLine().substr(0, 6), "OPENED");
        }
        const HANDLE h = RS232CI::COMOpen(1);
        EXPECT_EQ(h == INVALID_HANDLE_VALUE, bHeld);
        EXPECT_EQ(RS232CI::COMWrite(h, "ping", 4), !bHeld);
        EXPECT_EQ(peer.read(4, bHeld ? 0 : 1000), bHeld ? "" : "ping");
        RS232CI::COMClose(h);
    }
}

TEST(ComPort, PurgeDropsUnreadInput) {
    UseFreshEnvironment();
    Line line(1);
    ASSERT_TRUE(line.peer.write("stale"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    RS232CI::COMPurge(line.hPort);
    ASSERT_TRUE(line.peer.write("fresh"));
    char buffer[6] = {};
    EXPECT_TRUE(RS232CI::COMRead(line.hPort, buffer, 5));
    EXPECT_STREQ(buffer, "fresh");
    RS232CI::COMClose(line.hPort);
}

constexpr WordEntry kVerbs[] = {{"SHOW", 2, 2}};
constexpr WordEntry kNouns[] = {{"VERSION", 5, 4}};
constexpr RangeEntry kRanges[] = {{0, 0}};
constexpr CommandEntry kShow[] = {{2, 5, 0, 70, 0, 0, {0, 0, 0, 0}}};

// Records what reaches ExecCmd and answers with a fixed result.
struct TinyDriver : RS232CI {
    explicit TinyDriver(bool bResult)
        : RS232CI(kVerbs, 1, kNouns, 1, nullptr, 0, kRanges, 1, nullptr, 0, kShow, 1, nullptr, 0, 1, 2, 97),
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

}  // namespace
}  // namespace test
}  // namespace linkbay
