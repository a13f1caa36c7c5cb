// What only the POSIX layer's named objects have: the files behind them
// (left by a killed holder for the next opener to replace, removed by the last
// closer), the per-user namespaces that keep runs apart, objects of other
// users refused, and process handles waited on through a pidfd.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ipc_cases.h"
#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

using linkbay::test::ChildProcess;
using linkbay::test::UseFreshEnvironment;

// The shm object behind a name in the current namespace.
std::string ShmNameOf(const char* pszKind, const char* pszName) {
    return "/linkbay." + std::to_string(geteuid()) + "." + getenv("LINKBAY_IPC_NAMESPACE") + "." +
           pszKind + "." + pszName;
}

bool ShmExists(const std::string& sName) {
    const int fd = shm_open(sName.c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

class IpcProcessWait : public testing::TestWithParam<bool> {};

TEST_P(IpcProcessWait, SignalsWhenTheProcessEnds) {
    UseFreshEnvironment();
    ChildProcess child({"lock-mutex", "alive"});
    ASSERT_EQ(child.readLine(), "CREATED 0");
    linkbay::platform::posix::HandleEntry entry;
    entry.kind = linkbay::platform::posix::HandleKind::Process;
    entry.fd = GetParam() ? static_cast<int>(syscall(SYS_pidfd_open, child.pid(), 0)) : -1;
    entry.pid = static_cast<DWORD>(child.pid());
    HANDLE h = linkbay::platform::posix::AddHandle(entry);
    EXPECT_EQ(WaitForSingleObject(h, 100), WAIT_TIMEOUT);
    child.closeInput();
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);  // a zombie until reaped
    EXPECT_TRUE(CloseHandle(h));
}

INSTANTIATE_TEST_SUITE_P(Ipc, IpcProcessWait, testing::Bool());

class MappingFiles : public testing::TestWithParam<HolderEnd> {};

// Only a killed holder leaves its file behind, for the next opener to replace;
// the last closer removes it.
TEST_P(MappingFiles, OutliveOnlyAKilledHolder) {
    UseFreshEnvironment();
    {
        ChildProcess holder({"map", "fresh", "4096", "7"});
        ASSERT_EQ(holder.readLine(), "MAPPED new 0");
        ASSERT_EQ(holder.readLine(), "STORED");
        GetParam().pfnEnd(holder);
        EXPECT_GE(holder.wait(), 0);
    }
    EXPECT_EQ(ShmExists(ShmNameOf("mapping", "fresh")), std::string(GetParam().pszHow) == "killed");
    HANDLE h = NewMapping("fresh");
    EXPECT_EQ(FirstWord(h), 0u);
    CloseHandle(h);
    EXPECT_FALSE(ShmExists(ShmNameOf("mapping", "fresh")));
}

INSTANTIATE_TEST_SUITE_P(Mapping, MappingFiles, testing::ValuesIn(kHolderEnds), EndName);

TEST(MappingFiles, RefusedSizesLeaveNoFile) {
    UseFreshEnvironment();
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0x10000, 0, "huge"), nullptr);
    EXPECT_FALSE(ShmExists(ShmNameOf("mapping", "huge")));
}

// The file goes with the last handle, however many views remain.
TEST(MappingFiles, LastHandleRemovesTheFile) {
    UseFreshEnvironment();
    HANDLE h = NewMapping("outlive");
    HANDLE hOther = NewMapping("outlive");
    void* pView = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(pView, nullptr);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(ShmExists(ShmNameOf("mapping", "outlive")));
    EXPECT_TRUE(CloseHandle(hOther));
    EXPECT_FALSE(ShmExists(ShmNameOf("mapping", "outlive")));
    EXPECT_TRUE(UnmapViewOfFile(pView));
}

struct NamespaceCase {
    const char* pszWhat;
    std::string sSecond;
    bool bOtherNamespace;
    DWORD dwSecondError;
};

class IpcPosixNames : public testing::TestWithParam<NamespaceCase> {};

TEST_P(IpcPosixNames, KeepRunsApartAndFitTheFileName) {
    UseFreshEnvironment();
    HANDLE hFirst = NewMapping("x");
    ASSERT_NE(hFirst, nullptr);
    if (GetParam().bOtherNamespace) UseFreshEnvironment();
    HANDLE hSecond = NewMapping(GetParam().sSecond.c_str());
    EXPECT_EQ(GetLastError(), GetParam().dwSecondError);
    if (hSecond != nullptr) CloseHandle(hSecond);
    CloseHandle(hFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Ipc, IpcPosixNames,
    testing::Values(NamespaceCase{"OtherIpcNamespace", "x", true, 0},
                    NamespaceCase{"TooLongOnceEncoded", std::string(100, '/'), false, ERROR_INVALID_NAME}),
    [](const testing::TestParamInfo<NamespaceCase>& info) { return std::string(info.param.pszWhat); });

struct ForeignCase {
    const char* pszKind;
    HANDLE (*pfnCreate)();
    mode_t mode;
    bool bOtherOwner;
};

class IpcForeignObjects : public testing::TestWithParam<ForeignCase> {};

TEST_P(IpcForeignObjects, AreRefusedAndLeftUntouched) {
    UseFreshEnvironment();
    const ForeignCase& c = GetParam();
    if (c.bOtherOwner && geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    const std::string sShm = ShmNameOf(c.pszKind, "foreign");
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
    EXPECT_TRUE(ShmExists(sShm));
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // nobody holds it
    close(fd);
    shm_unlink(sShm.c_str());
}

HANDLE CreateForeignMutex() { return CreateMutexA(nullptr, TRUE, "foreign"); }
HANDLE CreateForeignMapping() { return NewMapping("foreign"); }

INSTANTIATE_TEST_SUITE_P(Ipc, IpcForeignObjects,
                         testing::Values(ForeignCase{"mutex", CreateForeignMutex, 0644, false},
                                         ForeignCase{"mutex", CreateForeignMutex, 0600, true},
                                         ForeignCase{"mapping", CreateForeignMapping, 0644, false},
                                         ForeignCase{"mapping", CreateForeignMapping, 0600, true}));

}  // namespace
