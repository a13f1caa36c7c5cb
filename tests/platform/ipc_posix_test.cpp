// What only the POSIX layer's named objects meet: files of other users (or
// not private to us) behind their names, and processes it must wait on
// without a pidfd.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "support/child_process.h"
#include "support/file_text.h"
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
    const std::string sPath = ObjectFileName(c.pszKind, "foreign");
    const int fd = open(sPath.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
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
    unlink(sPath.c_str());
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

// Whatever stands where the directory of named objects should be, another
// user's directory, an open one, a link or a file, is refused: no object is
// made, the reason names the path, and what stood there is left as it was.
struct SquattedCase { const char* pszWhat; void (*pfnPlant)(const std::string& sPath); const char* pszReason; };

void PlantOpenDirectory(const std::string& sPath) { ASSERT_EQ(mkdir(sPath.c_str(), 0777), 0); chmod(sPath.c_str(), 0777); }
void PlantForeignDirectory(const std::string& sPath) {
    ASSERT_EQ(mkdir(sPath.c_str(), 0700), 0);
    ASSERT_EQ(chown(sPath.c_str(), 65534, 65534), 0);
}
void PlantLink(const std::string& sPath) {
    ASSERT_EQ(mkdir((sPath + ".target").c_str(), 0700), 0);
    ASSERT_EQ(symlink((sPath + ".target").c_str(), sPath.c_str()), 0);
}
void PlantFile(const std::string& sPath) { WriteRaw(sPath, "squatted"); }

class IpcSquattedDirectory : public testing::TestWithParam<SquattedCase> {};

TEST_P(IpcSquattedDirectory, IsRefusedWithItsReason) {
    const SquattedCase& c = GetParam();
    if (c.pfnPlant == PlantForeignDirectory && geteuid() != 0) GTEST_SKIP() << "giving a directory away needs root";
    const std::string sPath = UseFreshEnvironment() + "/objects";
    c.pfnPlant(sPath);
    struct stat before {};
    ASSERT_EQ(lstat(sPath.c_str(), &before), 0);
    ScopedVariable dir("LINKBAY_IPC_DIR", sPath);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "squatted"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "squatted"), nullptr);
    char szReason[512] = "";
    ASSERT_TRUE(platform::DescribeNamedObjectProblem(szReason, sizeof szReason));
    EXPECT_NE(strstr(szReason, sPath.c_str()), nullptr) << szReason;
    EXPECT_NE(strstr(szReason, c.pszReason), nullptr) << szReason;
    struct stat after {};
    ASSERT_EQ(lstat(sPath.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
}

INSTANTIATE_TEST_SUITE_P(Ipc, IpcSquattedDirectory,
                         testing::Values(SquattedCase{"open", PlantOpenDirectory, "mode 0777"},
                                         SquattedCase{"foreign", PlantForeignDirectory, "belongs to user 65534"},
                                         SquattedCase{"link", PlantLink, "not a directory"},
                                         SquattedCase{"file", PlantFile, "not a directory"}),
                         [](const testing::TestParamInfo<SquattedCase>& info) { return info.param.pszWhat; });

// A runtime directory that others may enter is passed over for one of our
// own; a missing directory of ours is made private, whatever the umask.
TEST(IpcObjectDirectory, IsPrivateWhereverItIsMade) {
    const std::string sRuntime = UseFreshEnvironment();
    ASSERT_EQ(chmod(sRuntime.c_str(), 0755), 0);
    ScopedVariable runtime("XDG_RUNTIME_DIR", sRuntime);
    ScopedVariable none("LINKBAY_IPC_DIR", "");
    HANDLE hShared = CreateMutexA(nullptr, FALSE, "runtime");
    ASSERT_NE(hShared, nullptr);
    EXPECT_NE(ObjectFileName("mutex", "runtime").rfind(sRuntime, 0), 0u);
    CloseHandle(hShared);

    const std::string sMade = UseFreshEnvironment() + "/made";
    ScopedVariable dir("LINKBAY_IPC_DIR", sMade);
    const mode_t oldMask = umask(0277);
    HANDLE hMade = CreateMutexA(nullptr, FALSE, "made");
    umask(oldMask);
    ASSERT_NE(hMade, nullptr);
    struct stat st {};
    ASSERT_EQ(stat(sMade.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_TRUE(ObjectFileExists("mutex", "made"));
    CloseHandle(hMade);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
