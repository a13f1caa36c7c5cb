// Process handles and duplication of a port handle from another process that
// holds it, and within this one.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

// The value of the port handle that a helper opening a port reports; null
// when it could not open it.
HANDLE PortHandleOf(ChildProcess& owner) {
    const std::string sLine = owner.readLine();
    if (sLine.rfind("OPENED ", 0) != 0) return nullptr;
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::stoul(sLine.substr(7))));
}

HANDLE DuplicateFrom(HANDLE hProcess, HANDLE hRemote) {
    HANDLE hLocal = nullptr;
    const BOOL bOk = DuplicateHandle(hProcess, hRemote, GetCurrentProcess(), &hLocal, 0, TRUE, DUPLICATE_SAME_ACCESS);
    return bOk ? hLocal : nullptr;
}

// COM1 on a pty peer, for an owner process to open; the duplication the
// ordinary way, or the POSIX layer's fallback.
class DuplicateFromOwner : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        UseFreshEnvironment();
        ASSERT_TRUE(m_peer.ok());
        m_peer.bindToPort(1);
        if (GetParam() && !UseDuplicateByReopen(true)) GTEST_SKIP() << "Win32 has one way";
    }
    void TearDown() override {
        if (GetParam()) UseDuplicateByReopen(false);
    }

    PtyPeer m_peer;
};

// The copy, duplicated once more within this process (closing the source),
// reads and writes the device while the owner still writes through its own.
TEST_P(DuplicateFromOwner, LiveOwnersPortReadsAndWritesTheDevice) {
    ChildProcess owner({"open-port", "1"});
    const HANDLE hRemote = PortHandleOf(owner);
    ASSERT_NE(hRemote, nullptr);
    const HANDLE hOwner = OpenProcess(PROCESS_ALL_ACCESS, TRUE, static_cast<DWORD>(owner.pid()));
    ASSERT_NE(hOwner, nullptr);
    const HANDLE hFirst = DuplicateFrom(hOwner, hRemote);
    ASSERT_NE(hFirst, nullptr) << GetLastError();
    // Its process handle signals only once the owner has ended.
    EXPECT_EQ(WaitForSingleObject(hOwner, 100), WAIT_TIMEOUT);
    CloseHandle(hOwner);
    HANDLE hPort = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), hFirst, GetCurrentProcess(), &hPort, 0, FALSE,
                                DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
    DWORD cb = 0;
    // Closed by the duplication, unless the copy took over its value (Wine's does).
    if (hPort != hFirst) {
        EXPECT_FALSE(WriteFile(hFirst, "x", 1, &cb, nullptr));
    }
    ASSERT_TRUE(WriteFile(hPort, "ping", 4, &cb, nullptr));
    EXPECT_EQ(m_peer.read(4, 1000), "ping");
    COMMTIMEOUTS timeouts = {0, 0, 1000, 0, 1000};
    ASSERT_TRUE(SetCommTimeouts(hPort, &timeouts));
    ASSERT_TRUE(m_peer.write("pong"));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(hPort, buffer, 4, &cb, nullptr));
    EXPECT_EQ(std::string(buffer, cb), "pong");
    ASSERT_TRUE(owner.writeLine("write back"));
    EXPECT_EQ(owner.readLine(), "WROTE 1 4");
    EXPECT_EQ(m_peer.read(4, 1000), "back");
    EXPECT_TRUE(CloseHandle(hPort));
}

// However it ended: killed here, as the harsher end.
TEST_P(DuplicateFromOwner, OwnerThatHasEndedGivesNothing) {
    DWORD pid = 0;
    {
        ChildProcess owner({"open-port", "1"});
        const HANDLE hRemote = PortHandleOf(owner);
        ASSERT_NE(hRemote, nullptr);
        pid = static_cast<DWORD>(owner.pid());
        const HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid);
        ASSERT_NE(hProcess, nullptr);
        owner.kill();
        // Not yet reaped: the process id still names the ended process.
        EXPECT_EQ(WaitForSingleObject(hProcess, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(DuplicateFrom(hProcess, hRemote), nullptr);
        CloseHandle(hProcess);
        ASSERT_GE(owner.wait(), 0);
    }
    // Reaped, and no handle left to keep the process object: the id soon names
    // nothing (Wine lets go of it about half a second after its last handle).
    DWORD dwError = 0;
    EXPECT_TRUE(Eventually([&] {
        const HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid);
        dwError = GetLastError();
        if (hProcess != nullptr) CloseHandle(hProcess);
        return hProcess == nullptr;
    }));
    EXPECT_EQ(dwError, ERROR_INVALID_PARAMETER);
}

INSTANTIATE_TEST_SUITE_P(Process, DuplicateFromOwner, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ByReopen" : "Ordinary");
                         });

// A process's start tells it apart from a later one given its id: the same
// for its whole life, another for a process started after it, none once it
// has ended.
TEST(Process, StartStampTellsProcessesApart) {
    uint64_t qwOwn = 0, qwAgain = 0, qwChild = 0;
    ASSERT_TRUE(platform::ProcessStartStamp(GetCurrentProcessId(), &qwOwn));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the 10 ms ticks Linux counts in
    ASSERT_TRUE(platform::ProcessStartStamp(GetCurrentProcessId(), &qwAgain));
    EXPECT_EQ(qwAgain, qwOwn);
    ChildProcess child({"lock-mutex", "stamp"});
    ASSERT_EQ(child.readLine(), "CREATED 0");
    const DWORD dwChild = static_cast<DWORD>(child.pid());
    ASSERT_TRUE(platform::ProcessStartStamp(dwChild, &qwChild));
    EXPECT_NE(qwChild, qwOwn);
    child.closeInput();
    ASSERT_GE(child.wait(), 0);
    EXPECT_TRUE(Eventually([&] { return !platform::ProcessStartStamp(dwChild, &qwChild); }));
}

TEST(Process, BadArgumentsFailWithAnError) {
    EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const HANDLE hSelf = OpenProcess(PROCESS_DUP_HANDLE, FALSE, GetCurrentProcessId());
    ASSERT_NE(hSelf, nullptr);
    HANDLE hOut = nullptr;
    EXPECT_FALSE(DuplicateHandle(hSelf, nullptr, GetCurrentProcess(), &hOut, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // Without a place for the new handle Win32 still duplicates, for compatibility.
    EXPECT_TRUE(DuplicateHandle(hSelf, hSelf, GetCurrentProcess(), nullptr, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_FALSE(DuplicateHandle(nullptr, hSelf, GetCurrentProcess(), &hOut, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(hSelf));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));  // the pseudo handle closes as a no-op
}

}  // namespace
}  // namespace test
}  // namespace linkbay
