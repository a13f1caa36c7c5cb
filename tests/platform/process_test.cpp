// Process handles and duplication of a port handle held by another process.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "support/child_process.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

using platform::DuplicateMethod;

// A helper process that holds COM1, and the value of its port handle.
struct PortOwner {
    ChildProcess process{{"open-port", "1"}};
    HANDLE hRemote = nullptr;

    bool start() {
        const std::string sLine = process.readLine();
        if (sLine.rfind("OPENED ", 0) != 0) return false;
        hRemote = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::stoul(sLine.substr(7))));
        return true;
    }
};

HANDLE DuplicateFrom(DWORD pid, HANDLE hRemote) {
    const HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid);
    if (hProcess == nullptr) return nullptr;
    HANDLE hLocal = nullptr;
    const BOOL bOk = DuplicateHandle(hProcess, hRemote, GetCurrentProcess(), &hLocal, 0, TRUE,
                                     DUPLICATE_SAME_ACCESS);
    const DWORD dwError = GetLastError();
    CloseHandle(hProcess);
    SetLastError(dwError);
    return bOk ? hLocal : nullptr;
}

class DuplicateTest : public ::testing::TestWithParam<DuplicateMethod> {
protected:
    void SetUp() override {
        UseFreshEnvironment();
        ASSERT_TRUE(m_peer.ok());
        m_peer.bindToPort(1);
        platform::SetDuplicateMethod(GetParam());
    }
    void TearDown() override { platform::SetDuplicateMethod(DuplicateMethod::Automatic); }

    PtyPeer m_peer;
};

TEST_P(DuplicateTest, DuplicateOfLiveOwnersPortReadsAndWritesTheDevice) {
    PortOwner owner;
    ASSERT_TRUE(owner.start());
    const HANDLE hPort = DuplicateFrom(static_cast<DWORD>(owner.process.pid()), owner.hRemote);
    ASSERT_NE(hPort, nullptr) << GetLastError();

    DWORD cb = 0;
    ASSERT_TRUE(WriteFile(hPort, "ping", 4, &cb, nullptr));
    EXPECT_EQ(m_peer.read(4, 1000), "ping");
    COMMTIMEOUTS timeouts = {0, 0, 1000, 0, 1000};
    ASSERT_TRUE(SetCommTimeouts(hPort, &timeouts));
    ASSERT_TRUE(m_peer.write("pong"));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(hPort, buffer, 4, &cb, nullptr));
    EXPECT_EQ(std::string(buffer, cb), "pong");
    // The owner still has its port too.
    ASSERT_TRUE(owner.process.writeLine("write back"));
    EXPECT_EQ(owner.process.readLine(), "WROTE 1 4");
    EXPECT_EQ(m_peer.read(4, 1000), "back");
    EXPECT_TRUE(CloseHandle(hPort));
}

TEST_P(DuplicateTest, DuplicationFromAnOwnerThatHasEndedFails) {
    struct Ending {
        const char* pszHow;
        void (*end)(ChildProcess&);
    };
    const Ending kEndings[] = {
        {"exits", [](ChildProcess& p) { p.closeInput(); }},
        {"is killed", [](ChildProcess& p) { p.kill(); }},
    };
    for (const Ending& ending : kEndings) {
        SCOPED_TRACE(ending.pszHow);
        PortOwner owner;
        ASSERT_TRUE(owner.start());
        const DWORD pid = static_cast<DWORD>(owner.process.pid());
        const HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid);
        ASSERT_NE(hProcess, nullptr);
        ending.end(owner.process);
        // Not yet reaped: the process id still names the ended process.
        EXPECT_EQ(WaitForSingleObject(hProcess, 5000), WAIT_OBJECT_0);
        HANDLE hLocal = nullptr;
        EXPECT_FALSE(DuplicateHandle(hProcess, owner.hRemote, GetCurrentProcess(), &hLocal, 0,
                                     TRUE, DUPLICATE_SAME_ACCESS));
        EXPECT_EQ(hLocal, nullptr);
        CloseHandle(hProcess);
        ASSERT_GE(owner.process.wait(), 0);
        EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

INSTANTIATE_TEST_SUITE_P(Process, DuplicateTest,
                         ::testing::Values(DuplicateMethod::Automatic, DuplicateMethod::Reopen),
                         [](const ::testing::TestParamInfo<DuplicateMethod>& info) {
                             return info.param == DuplicateMethod::Automatic ? "Automatic" : "Reopen";
                         });

TEST(Process, DuplicateWithinTheProcessSharesTheDevice) {
    UseFreshEnvironment();
    PtyPeer peer;
    peer.bindToPort(2);
    const HANDLE hPort = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hPort, INVALID_HANDLE_VALUE);
    HANDLE hCopy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), hPort, GetCurrentProcess(), &hCopy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
    DWORD cb = 0;
    EXPECT_FALSE(WriteFile(hPort, "x", 1, &cb, nullptr));  // closed by the duplication
    EXPECT_TRUE(WriteFile(hCopy, "copy", 4, &cb, nullptr));
    EXPECT_EQ(peer.read(4, 1000), "copy");
    EXPECT_TRUE(CloseHandle(hCopy));
}

TEST(Process, BadArgumentsFailWithAnError) {
    EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const HANDLE hSelf = OpenProcess(PROCESS_DUP_HANDLE, FALSE, GetCurrentProcessId());
    ASSERT_NE(hSelf, nullptr);
    HANDLE hOut = nullptr;
    EXPECT_FALSE(DuplicateHandle(hSelf, nullptr, GetCurrentProcess(), &hOut, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DuplicateHandle(hSelf, hSelf, GetCurrentProcess(), nullptr, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DuplicateHandle(nullptr, hSelf, GetCurrentProcess(), &hOut, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(hSelf));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));  // the pseudo handle closes as a no-op
}

}  // namespace
}  // namespace test
}  // namespace linkbay
