// What only the POSIX layer's named objects meet: files of other users (or
// not private to us) behind their names, and processes it must wait on
// without a pidfd.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

// Old kernels have no pidfd; the process is then named by its id alone.
TEST(IpcProcessWait, WithoutAPidfdSignalsWhenTheProcessEnds) {
    UseFreshEnvironment();
    ChildProcess child({"lock-mutex", "alive"});
    ASSERT_EQ(child.readLine(), "CREATED 0");
    HANDLE h = platform::posix::AddHandle({platform::posix::HandleKind::Process, -1, static_cast<DWORD>(child.pid())});
    EXPECT_EQ(WaitForSingleObject(h, 100), WAIT_TIMEOUT);
    child.closeInput();
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);  // a zombie until reaped
    EXPECT_TRUE(CloseHandle(h));
}

struct ForeignCase { const char* pszKind; HANDLE (*pfnCreate)(); mode_t mode; bool bOtherOwner; };

class IpcForeignObjects : public testing::TestWithParam<ForeignCase> {};

TEST_P(IpcForeignObjects, AreRefusedAndLeftUntouched) {
    UseFreshEnvironment();
    const ForeignCase& c = GetParam();
    if (c.bOtherOwner && geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    const std::string sShm = ObjectFileName(c.pszKind, "foreign");
    const int fd = shm_open(sShm.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    const std::string sMarker(4096, '\xA5');
    ASSERT_EQ(pwrite(fd, sMarker.data(), sMarker.size(), 0), 4096);
    ASSERT_EQ(fchmod(fd, c.mode), 0);
    ASSERT_EQ(c.bOtherOwner ? fchown(fd, 65534, 65534) : 0, 0);
    EXPECT_EQ(c.pfnCreate(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    std::string sAfter(4096, '\0');
    EXPECT_EQ(pread(fd, &sAfter[0], sAfter.size(), 0), 4096);
    EXPECT_EQ(sAfter, sMarker);
    EXPECT_TRUE(ObjectFileExists(c.pszKind, "foreign"));
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // nobody holds it
    close(fd);
    shm_unlink(sShm.c_str());
}

HANDLE CreateForeignMutex() { return CreateMutexA(nullptr, TRUE, "foreign"); }
HANDLE CreateForeignMapping() {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "foreign");
}

INSTANTIATE_TEST_SUITE_P(Ipc, IpcForeignObjects,
                         testing::Values(ForeignCase{"mutex", CreateForeignMutex, 0644, false},
                                         ForeignCase{"mutex", CreateForeignMutex, 0600, true},
                                         ForeignCase{"mapping", CreateForeignMapping, 0644, false},
                                         ForeignCase{"mapping", CreateForeignMapping, 0600, true}));

}  // namespace
}  // namespace test
}  // namespace linkbay
