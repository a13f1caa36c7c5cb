// Serial ports against a pty peer: time-outs, purge, flush, health check,
// exclusive open and line settings.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/child_process.h"
#include "platform/platform.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

HANDLE OpenCom(int nPort) {
    return CreateFileA(("COM" + std::to_string(nPort)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class PortTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseFreshEnvironment();
        ASSERT_TRUE(m_peer.ok());
        m_peer.bindToPort(1);
        m_hPort = OpenCom(1);
        ASSERT_NE(m_hPort, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override {
        if (m_hPort != INVALID_HANDLE_VALUE) CloseHandle(m_hPort);
    }
    void SetTimeouts(const COMMTIMEOUTS& timeouts) {
        COMMTIMEOUTS copy = timeouts;
        ASSERT_TRUE(SetCommTimeouts(m_hPort, &copy));
    }
    // The peer's bytes reach the port a moment after it writes them.
    void WriteAndAwait(const std::string& sBytes) {
        ASSERT_TRUE(m_peer.write(sBytes));
        COMSTAT stat{};
        Eventually([&] { return !ClearCommError(m_hPort, nullptr, &stat) || stat.cbInQue >= sBytes.size(); });
        ASSERT_EQ(stat.cbInQue, sBytes.size());
    }

    PtyPeer m_peer;
    HANDLE m_hPort = INVALID_HANDLE_VALUE;
};

struct Send { int nAfterMs; std::string sBytes; };  // nAfterMs: since the read started

struct ReadCase {
    const char* pszName;
    COMMTIMEOUTS timeouts;
    std::string sBefore;  // already waiting when the read starts
    std::vector<Send> sends;
    DWORD cbWanted, cbExpected;
    int nMinMs, nMaxMs;
    Holds holds = Holds::Everywhere;
};

// Generous upper bounds: the machines are shared; what matters is which
// time-out ended the read, not the last millisecond.
const ReadCase kReadCases[] = {
    {"AllBytesPresentReturnAtOnce", {1000, 5, 0, 0, 0}, "0123456789", {}, 10, 10, 0, 300},
    {"IntervalEndsPartialRead", {1000, 0, 0, 0, 0}, "", {{50, "abcd"}}, 10, 4, 950, 2000},
    {"SilentPeerEndsAtTotal", {1000, 20, 300, 0, 0}, "", {}, 10, 0, 450, 1500},
    {"IntervalWaitsForFirstByte", {100, 0, 0, 0, 0}, "", {{400, "a"}, {420, "bcdefghij"}}, 10, 10, 380, 1500},
    {"TotalCutsSteadyTrickle", {1000, 0, 300, 0, 0}, "", {{50, "a"}, {150, "b"}, {250, "c"}, {600, "d"}}, 10, 3, 280, 1000},
    {"ReturnBufferedAtOnce", {MAXDWORD, 0, 0, 0, 0}, "xyz", {}, 10, 3, 0, 300},
    {"ReturnBufferedNothing", {MAXDWORD, 0, 0, 0, 0}, "", {{100, "late"}}, 10, 0, 0, 90},
    // Wine waits out the constant instead of returning with the first byte.
    {"FirstByteEndsWait", {MAXDWORD, MAXDWORD, 2000, 0, 0}, "", {{200, "ab"}}, 10, 2, 180, 1500, Holds::NotUnderWine},
    {"FirstByteWaitTimesOut", {MAXDWORD, MAXDWORD, 300, 0, 0}, "", {}, 10, 0, 280, 1500},
    {"NoTimeoutsWaitForAll", {0, 0, 0, 0, 0}, "", {{50, "12345"}, {400, "67890"}}, 10, 10, 380, 3000},
};

class ReadTimeoutTest : public PortTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTimeoutTest, EndsAsWindowsDoes) {
    const ReadCase& c = GetParam();
    if (!Applies(c.holds)) GTEST_SKIP() << "Wine differs here: see the case";
    SetTimeouts(c.timeouts);
    if (!c.sBefore.empty()) WriteAndAwait(c.sBefore);
    const long long start = NowMs();
    std::thread sender([&] {
        for (const Send& send : c.sends) {
            const long long wait = start + send.nAfterMs - NowMs();
            if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            m_peer.write(send.sBytes);
        }
    });
    char buffer[64] = {};
    DWORD cbRead = 12345;
    const BOOL bOk = ReadFile(m_hPort, buffer, c.cbWanted, &cbRead, nullptr);
    const long long elapsed = NowMs() - start;
    sender.join();
    EXPECT_TRUE(bOk) << GetLastError();
    EXPECT_EQ(cbRead, c.cbExpected);
    EXPECT_GE(elapsed, c.nMinMs);
    EXPECT_LE(elapsed, c.nMaxMs);
}

INSTANTIATE_TEST_SUITE_P(Port, ReadTimeoutTest, ::testing::ValuesIn(kReadCases),
                         [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.pszName; });

TEST_F(PortTest, WriteToPeerThatNeverReadsEndsByWriteTimeout) {
    SetTimeouts({0, 0, 0, 0, 300});
    std::vector<char> data(4 << 20, 'w');
    DWORD cbWritten = 0;
    const long long start = NowMs();
    const BOOL bOk = WriteFile(m_hPort, data.data(), static_cast<DWORD>(data.size()), &cbWritten, nullptr);
    const long long elapsed = NowMs() - start;
    EXPECT_TRUE(bOk);
    EXPECT_GT(cbWritten, 0u);
    EXPECT_LT(cbWritten, data.size());
    EXPECT_GE(elapsed, 280);
    EXPECT_LE(elapsed, 2000);
}

TEST_F(PortTest, PurgeDropsUnreadInput) {
    WriteAndAwait("stale bytes");  // and counted in the input queue
    ASSERT_TRUE(PurgeComm(m_hPort, PURGE_RXCLEAR));
    SetTimeouts({MAXDWORD, 0, 0, 0, 0});
    char buffer[16];
    DWORD cbRead = 1;
    EXPECT_TRUE(ReadFile(m_hPort, buffer, sizeof buffer, &cbRead, nullptr));
    EXPECT_EQ(cbRead, 0u);
    // Windows' serial driver refuses an unknown purge flag; Wine ignores it.
    if (Applies(Holds::NotUnderWine)) {
        EXPECT_FALSE(PurgeComm(m_hPort, 0x10));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST_F(PortTest, FlushReturnsOnceOutputHasLeft) {
    const std::string sData(3000, 'f');
    DWORD cbWritten = 0;
    ASSERT_TRUE(WriteFile(m_hPort, sData.data(), static_cast<DWORD>(sData.size()), &cbWritten, nullptr));
    ASSERT_TRUE(FlushFileBuffers(m_hPort));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(m_hPort, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 0u);
    EXPECT_EQ(m_peer.read(sData.size(), 500), sData);
}

TEST_F(PortTest, ZeroByteReadFailsOnceThePeerHasHungUp) {
    SetTimeouts({0, 0, 500, 0, 0});
    DWORD cbRead = 7;
    EXPECT_TRUE(ReadFile(m_hPort, nullptr, 0, &cbRead, nullptr));
    EXPECT_EQ(cbRead, 0u);
    m_peer.hangUp();
    if (!Applies(Holds::NotUnderWine)) GTEST_SKIP() << "Wine reads a hung-up pty as a quiet line, not a lost device";
    EXPECT_FALSE(ReadFile(m_hPort, nullptr, 0, &cbRead, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    char buffer[4];
    EXPECT_FALSE(ReadFile(m_hPort, buffer, sizeof buffer, &cbRead, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    // The calls around an exchange notice it too, so a driver's purge or
    // health check never passes for a line that has gone.
    DWORD dwErrors = 0;
    EXPECT_FALSE(ClearCommError(m_hPort, &dwErrors, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(PurgeComm(m_hPort, PURGE_RXCLEAR));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(FlushFileBuffers(m_hPort));
}

// Line settings given to SetCommState over 8N1 at the port's rate: applied
// ones the peer sees and GetCommState returns; refused ones change nothing.
struct LineCase {
    const char* pszWhat;
    void (*pfnSet)(DCB&);
    bool bApplied;
    Holds holds = Holds::Everywhere;
};

// Wine sets a rate termios has no name for through a serial driver's
// divisor, which a pty lacks: it stays at 38400 and SetCommState reports
// success. Wine also passes a zero rate and 1.5 stop bits with 8 data bits
// through (a combination Win32 calls invalid), and refuses the others with
// ERROR_NOT_SUPPORTED where the serial driver of Windows says
// ERROR_INVALID_PARAMETER.
const LineCase kLineCases[] = {
    {"Baud9600", [](DCB& d) { d.BaudRate = 9600; }, true},
    {"Baud128000", [](DCB& d) { d.BaudRate = 128000; }, true, Holds::NotUnderWine},
    {"Baud19200TwoStopBits", [](DCB& d) { d.BaudRate = 19200; d.StopBits = TWOSTOPBITS; }, true},
    {"NineDataBits", [](DCB& d) { d.ByteSize = 9; }, false},
    {"FourDataBits", [](DCB& d) { d.ByteSize = 4; }, false},
    {"Parity5", [](DCB& d) { d.Parity = 5; }, false},
    {"StopBits3", [](DCB& d) { d.StopBits = 3; }, false},
    {"Baud0", [](DCB& d) { d.BaudRate = 0; }, false, Holds::NotUnderWine},
    {"OneAndAHalfStopBitsWithEightDataBits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, false, Holds::NotUnderWine},
};

class LineSettingsTest : public PortTest, public ::testing::WithParamInterface<LineCase> {};

// A pty keeps 8 data bits without parity whatever it is told, so the peer
// shows rates and stop bits, and GetCommState the rest.
TEST_P(LineSettingsTest, AreAppliedOrRefusedAsWin32Does) {
    const LineCase& c = GetParam();
    if (!Applies(c.holds)) GTEST_SKIP() << "Wine differs here: see the case";
    DCB before{};
    before.DCBlength = sizeof before;
    ASSERT_TRUE(GetCommState(m_hPort, &before));
    before.ByteSize = 8;
    before.Parity = NOPARITY;
    before.StopBits = ONESTOPBIT;
    before.fBinary = 1;
    ASSERT_TRUE(SetCommState(m_hPort, &before));
    DCB dcb = before;
    c.pfnSet(dcb);
    EXPECT_EQ(SetCommState(m_hPort, &dcb), c.bApplied);
    if (!c.bApplied && Applies(Holds::NotUnderWine)) {
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    const DCB& now = c.bApplied ? dcb : before;
    const LineSettings seen = m_peer.settings();
    EXPECT_EQ(std::make_tuple(seen.baud, seen.stopBits),
              std::make_tuple(now.BaudRate, now.StopBits == TWOSTOPBITS ? 2 : 1));
    DCB back{};
    ASSERT_TRUE(GetCommState(m_hPort, &back));
    EXPECT_EQ(std::make_tuple(back.BaudRate, back.ByteSize, back.Parity, back.StopBits),
              std::make_tuple(now.BaudRate, now.ByteSize, now.Parity, now.StopBits));
}

INSTANTIATE_TEST_SUITE_P(Port, LineSettingsTest, ::testing::ValuesIn(kLineCases),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.pszWhat; });

TEST_F(PortTest, SecondOpenIsRefusedUntilTheFirstCloses) {
    if (!Applies(Holds::NotUnderWine)) GTEST_SKIP() << "Wine lets a second exclusive open of a port through";
    EXPECT_EQ(OpenCom(1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    {
        ChildProcess other({"open-port", "1"});
        EXPECT_EQ(other.readLine(), "FAILED 5");
    }
    ASSERT_TRUE(CloseHandle(m_hPort));
    m_hPort = INVALID_HANDLE_VALUE;
    ChildProcess other({"open-port", "1"});
    EXPECT_EQ(other.readLine().rfind("OPENED ", 0), 0u);
    EXPECT_EQ(OpenCom(1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// A port bound to something that is no terminal and always at its end (the
// null device) gives empty reads at once, even with no time-out set, as NUL
// does on Windows: a driver on it fails its exchanges instead of hanging.
TEST(PortOpen, NullDeviceReadsEndAtOnce) {
    if (!Applies(Holds::OnPosixLayerOnly)) GTEST_SKIP() << "ports are named by the system on Windows";
    UseFreshEnvironment();
    ASSERT_TRUE(BindPortToPath(3, "/dev/null"));
    const HANDLE hPort = OpenCom(3);
    ASSERT_NE(hPort, INVALID_HANDLE_VALUE);
    char buffer[8];
    DWORD cbRead = 1;
    EXPECT_TRUE(ReadFile(hPort, buffer, sizeof buffer, &cbRead, nullptr));
    EXPECT_EQ(cbRead, 0u);
    EXPECT_TRUE(CloseHandle(hPort));
}

TEST(PortOpen, MissingDeviceIsFileNotFound) {
    UseFreshEnvironment();
    ASSERT_TRUE(BindPortToPath(3, "/dev/linkbay-no-such-device"));
    EXPECT_EQ(OpenCom(3), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileA("\\\\.\\COM3", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// Every port call, with harmless arguments.
struct PortCall {
    const char* pszName;
    BOOL (*pfnCall)(HANDLE);
    bool bCommOnly;  // a file handle cannot do it
};
const PortCall kPortCalls[] = {
    {"ReadFile", [](HANDLE h) { char b[8]; DWORD cb; return ReadFile(h, b, sizeof b, &cb, nullptr); }, false},
    {"WriteFile", [](HANDLE h) { DWORD cb; return WriteFile(h, "12345678", 8, &cb, nullptr); }, false},
    {"FlushFileBuffers", [](HANDLE h) { return FlushFileBuffers(h); }, false},
    {"SetupComm", [](HANDLE h) { return SetupComm(h, 1024, 1024); }, true},
    {"GetCommState", [](HANDLE h) { DCB dcb{}; return GetCommState(h, &dcb); }, true},
    {"SetCommState", [](HANDLE h) { DCB dcb{}; return SetCommState(h, &dcb); }, true},
    {"GetCommTimeouts", [](HANDLE h) { COMMTIMEOUTS t{}; return GetCommTimeouts(h, &t); }, true},
    {"SetCommTimeouts", [](HANDLE h) { COMMTIMEOUTS t{}; return SetCommTimeouts(h, &t); }, true},
    {"ClearCommError", [](HANDLE h) { COMSTAT stat{}; return ClearCommError(h, nullptr, &stat); }, true},
    {"PurgeComm", [](HANDLE h) { return PurgeComm(h, PURGE_RXCLEAR); }, true},
};

bool FailsWith(BOOL bResult, DWORD dwError) { return !bResult && GetLastError() == dwError; }

// Windows' file systems answer a comm request ERROR_INVALID_FUNCTION; Wine
// says ERROR_INVALID_HANDLE or ERROR_NOT_SUPPORTED.
TEST(PortOpen, FileHandleIsNoCommDevice) {
    const std::string sPath = UseFreshEnvironment() + "/plain.txt";
    const HANDLE hFile = CreateFileA(sPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    for (const PortCall& call : kPortCalls) {
        const BOOL bResult = call.pfnCall(hFile);
        EXPECT_EQ(bResult, !call.bCommOnly) << call.pszName;
        if (!bResult && Applies(Holds::NotUnderWine)) {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << call.pszName;
        }
    }
    EXPECT_TRUE(CloseHandle(hFile));
}

TEST_F(PortTest, BadPointersAndHandlesFailWithAnError) {
    SetTimeouts({MAXDWORD, 0, 0, 0, 0});  // whatever goes wrong, no read waits
    DWORD cb = 0;
    char buffer[8];
    // Without a count Win32 reads on (Wine does, though Win32 forbids it);
    // the POSIX layer refuses.
    if (Applies(Holds::OnPosixLayerOnly)) {
        EXPECT_TRUE(FailsWith(ReadFile(m_hPort, buffer, sizeof buffer, nullptr, nullptr), ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(FailsWith(ReadFile(m_hPort, nullptr, 4, &cb, nullptr), ERROR_NOACCESS));
    // Wine calls a missing write buffer ERROR_INVALID_USER_BUFFER.
    EXPECT_FALSE(WriteFile(m_hPort, nullptr, 4, &cb, nullptr));
    if (Applies(Holds::NotUnderWine)) {
        EXPECT_EQ(GetLastError(), ERROR_NOACCESS);
    }
    EXPECT_TRUE(FailsWith(GetCommState(m_hPort, nullptr), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(FailsWith(SetCommState(m_hPort, nullptr), ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(FailsWith(SetCommTimeouts(m_hPort, nullptr), ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    const HANDLE hClosed = m_hPort;
    ASSERT_TRUE(CloseHandle(hClosed));
    m_hPort = INVALID_HANDLE_VALUE;
    for (const HANDLE h : {HANDLE(nullptr), INVALID_HANDLE_VALUE, hClosed, reinterpret_cast<HANDLE>(0x7ff0)}) {
        for (const PortCall& call : kPortCalls) {
            EXPECT_TRUE(FailsWith(call.pfnCall(h), ERROR_INVALID_HANDLE)) << call.pszName << " " << h;
        }
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(FailsWith(CloseHandle(h), ERROR_INVALID_HANDLE)) << h;
        }
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
