// Process handles and duplication of a port handle held by another process.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/process_cases.h"
#include "support/pty_peer.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

TEST_F(DuplicateTest, DuplicateOfLiveOwnersPortReadsAndWritesTheDevice) {
    DuplicateOfLiveOwnersPortReadsAndWritesTheDevice();
}

TEST_F(DuplicateTest, DuplicationFromAnOwnerThatHasEndedFails) { DuplicationFromAnOwnerThatHasEndedFails(); }

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
    // Closed by the duplication, unless the copy took over its value (Wine's does).
    if (hCopy != hPort) {
        EXPECT_FALSE(WriteFile(hPort, "x", 1, &cb, nullptr));
    }
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
