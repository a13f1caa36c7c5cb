// Duplication of a port handle that another process holds: the cases
// process_test.cpp runs the ordinary way and process_posix_test.cpp runs
// again the way the POSIX layer falls back to.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

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

inline HANDLE DuplicateFrom(DWORD pid, HANDLE hRemote) {
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

// Whether the id stops naming a process within the time: Wine lets go of an
// ended process about half a second after its last handle.
inline bool IdNamesNoProcessWithin(DWORD pid, int nTimeoutMs) {
    const long long start = NowMs();
    for (;;) {
        const HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid);
        if (hProcess == nullptr) return true;
        CloseHandle(hProcess);
        if (NowMs() - start >= nTimeoutMs) return false;
        Sleep(10);
    }
}

// COM1 on a pty peer, for an owner to open.
class DuplicateTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseFreshEnvironment();
        ASSERT_TRUE(m_peer.ok());
        m_peer.bindToPort(1);
    }

    void DuplicateOfLiveOwnersPortReadsAndWritesTheDevice() {
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

    void DuplicationFromAnOwnerThatHasEndedFails() {
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
            DWORD pid = 0;
            {
                PortOwner owner;
                ASSERT_TRUE(owner.start());
                pid = static_cast<DWORD>(owner.process.pid());
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
            }
            // Reaped, and no handle left to keep the process object: the id names nothing.
            EXPECT_TRUE(IdNamesNoProcessWithin(pid, 5000));
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        }
    }

    PtyPeer m_peer;
};

}  // namespace
}  // namespace test
}  // namespace linkbay
