// Named mutexes and mappings between real processes: exclusion, abandonment,
// Windows lifetime (also across SIGKILL), one initialisation among racing
// openers, names and their isolation, and bad input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/handles.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

using linkbay::test::ChildProcess;
using linkbay::test::NowMs;
using linkbay::test::UseFreshEnvironment;
using Args = std::vector<std::string>;

constexpr DWORD kErrorInvalidAddress = 487;
constexpr DWORD kErrorMappedAlignment = 1132;
constexpr DWORD kFileMapCopy = 0x0001;

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

HANDLE NewMapping(const char* pszName, DWORD cb = 4096, DWORD flProtect = PAGE_READWRITE) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, flProtect, 0, cb, pszName);
}

DWORD FirstWord(HANDLE hMapping) {
    const DWORD* p = static_cast<const DWORD*>(MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0));
    const DWORD dwWord = p != nullptr ? *p : 0xdeadbeef;
    if (p != nullptr) UnmapViewOfFile(p);
    return dwWord;
}

template <typename Fn>
DWORD OnOtherThread(Fn fn) {
    DWORD dwResult = 0;
    std::thread([&] { dwResult = fn(); }).join();
    return dwResult;
}

// Starts helpers with one command, lets them go at once, collects one line of each.
std::vector<std::string> RunTogether(int nCount, const Args& args) {
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < nCount; ++i) children.push_back(std::make_unique<ChildProcess>(args));
    for (auto& child : children) child->writeLine("go");
    std::vector<std::string> lines;
    for (auto& child : children) lines.push_back(child->readLine(60000));
    return lines;
}

struct HolderEnd {
    const char* pszHow;
    void (*pfnEnd)(ChildProcess&);
};
const HolderEnd kHolderEnds[] = {{"killed", [](ChildProcess& c) { c.kill(); }},
                                 {"exits", [](ChildProcess& c) { c.closeInput(); }}};
std::string EndName(const testing::TestParamInfo<HolderEnd>& info) { return info.param.pszHow; }

// --- Named mutex -----------------------------------------------------------

class MutexRecursion : public testing::TestWithParam<const char*> {};

TEST_P(MutexRecursion, CountsForTheOwningThreadOnly) {
    UseFreshEnvironment();
    HANDLE h = CreateMutexA(nullptr, FALSE, GetParam());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(OnOtherThread([&] { return WaitForSingleObject(h, 0); }), WAIT_TIMEOUT) << i;
        EXPECT_EQ(OnOtherThread([&] { return ReleaseMutex(h) ? 0 : GetLastError(); }), ERROR_NOT_OWNER);
        EXPECT_TRUE(ReleaseMutex(h)) << i;
    }
    EXPECT_FALSE(ReleaseMutex(h));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_EQ(OnOtherThread([&] { return ReleaseMutex(h) ? WAIT_FAILED : WaitForSingleObject(h, 0); }),
              WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(h));
}

INSTANTIATE_TEST_SUITE_P(Mutex, MutexRecursion, testing::Values("recursion", nullptr));

TEST(MutexProcesses, CreatorOwnsItAndOthersWaitUntilItIsReleased) {
    UseFreshEnvironment();
    ChildProcess creator({"lock-mutex", "excl", "initial"});
    ASSERT_EQ(creator.readLine(), "CREATED 0");
    HANDLE h = CreateMutexA(nullptr, TRUE, "excl");  // exists: no ownership for us
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(h));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    const long long msStart = NowMs();
    EXPECT_EQ(WaitForSingleObject(h, 200), WAIT_TIMEOUT);
    EXPECT_GE(NowMs() - msStart, 190);
    EXPECT_LT(NowMs() - msStart, 3000);
    creator.writeLine("release");
    EXPECT_EQ(creator.readLine(), "RELEASED 1 0");
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(h));
    CloseHandle(h);
}

class MutexAbandoned : public testing::TestWithParam<HolderEnd> {};

TEST_P(MutexAbandoned, ByAnEndedHolderGoesToTheNextWaiter) {
    UseFreshEnvironment();
    HANDLE h = CreateMutexA(nullptr, FALSE, "abandoned");
    {
        ChildProcess holder({"lock-mutex", "abandoned"});
        ASSERT_EQ(holder.readLine(), "CREATED 183");
        ASSERT_EQ(holder.readLine(), "LOCKED 0");
        GetParam().pfnEnd(holder);
        EXPECT_GE(holder.wait(), 0);
    }
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_ABANDONED);
    ChildProcess next({"lock-mutex", "abandoned"});
    ASSERT_EQ(next.readLine(), "CREATED 183");
    EXPECT_EQ(next.readLine(300), "");  // we own it now
    EXPECT_TRUE(ReleaseMutex(h));
    EXPECT_EQ(next.readLine(), "LOCKED 0");
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Mutex, MutexAbandoned, testing::ValuesIn(kHolderEnds), EndName);

TEST(MutexThreads, ThreadEndingWithItAbandonsIt) {
    UseFreshEnvironment();
    HANDLE h = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_EQ(OnOtherThread([&] { return WaitForSingleObject(h, 0) + WaitForSingleObject(h, 0); }),
              WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(h));  // owned once, whatever the count before
    EXPECT_FALSE(ReleaseMutex(h));
    CloseHandle(h);
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

// --- Shared mappings -------------------------------------------------------

TEST(MappingProcesses, ZeroAtFirstThenSharedWithItsExistingSize) {
    UseFreshEnvironment();
    ChildProcess first({"map", "shared name/%", "4096", "17"});
    ASSERT_EQ(first.readLine(), "MAPPED new 0");
    ASSERT_EQ(first.readLine(), "STORED");
    ChildProcess second({"map", "shared name/%", "4096", "34"});
    ASSERT_EQ(second.readLine(), "MAPPED existing 17");
    ASSERT_EQ(second.readLine(), "STORED");
    HANDLE h = NewMapping("shared name/%", 65536);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 8192), nullptr);  // it kept its 4096 bytes
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(FirstWord(h), 34u);
    CloseHandle(h);
}

class MappingAfterHolders : public testing::TestWithParam<HolderEnd> {};

TEST_P(MappingAfterHolders, NextOpenerStartsFromZeros) {
    UseFreshEnvironment();
    {
        ChildProcess holder({"map", "fresh", "4096", "7"});
        ASSERT_EQ(holder.readLine(), "MAPPED new 0");
        ASSERT_EQ(holder.readLine(), "STORED");
        GetParam().pfnEnd(holder);
        EXPECT_GE(holder.wait(), 0);
    }
    // Only a killed holder leaves its file behind, for the next opener to reset.
    EXPECT_EQ(ShmExists(ShmNameOf("mapping", "fresh")), std::string(GetParam().pszHow) == "killed");
    HANDLE h = NewMapping("fresh");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(FirstWord(h), 0u);
    CloseHandle(h);
    EXPECT_FALSE(ShmExists(ShmNameOf("mapping", "fresh")));
}

INSTANTIATE_TEST_SUITE_P(Mapping, MappingAfterHolders, testing::ValuesIn(kHolderEnds), EndName);

TEST(MappingProcesses, EightStartersInitialiseItOnce) {
    for (int round = 0; round < 3; ++round) {
        UseFreshEnvironment();
        int nNew = 0;
        for (const std::string& sLine : RunTogether(8, {"barrier-map", "meet", "8"})) {
            EXPECT_TRUE(sLine == "MET new 1" || sLine == "MET existing 1") << sLine;
            nNew += sLine == "MET new 1";
        }
        EXPECT_EQ(nNew, 1) << round;
    }
}

// Openers racing the last closer must never hold the removed object while
// the name leads to a new one.
TEST(MappingProcesses, ChurningOpenersNeverHoldARemovedObject) {
    UseFreshEnvironment();
    for (const std::string& sLine : RunTogether(6, {"churn", "churn", "300"})) EXPECT_EQ(sLine, "CHURNED 0");
}

TEST(MappingViews, ViewKeepsTheObjectAfterCloseHandle) {
    UseFreshEnvironment();
    HANDLE h = NewMapping("outlive");
    DWORD* pWord = static_cast<DWORD*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(pWord, nullptr);
    *pWord = 99;
    EXPECT_TRUE(CloseHandle(h));
    {
        ChildProcess other({"map", "outlive", "4096", "5"});
        EXPECT_EQ(other.readLine(), "MAPPED existing 99");
        EXPECT_EQ(other.readLine(), "STORED");
        EXPECT_EQ(*pWord, 5u);
    }
    EXPECT_TRUE(UnmapViewOfFile(pWord));
    EXPECT_FALSE(ShmExists(ShmNameOf("mapping", "outlive")));
}

struct ViewCase {
    const char* pszWhat;
    DWORD flProtect, cbObject, dwCreateError;  // 0: created
    DWORD dwAccess, dwOffset, cbView, dwMapError;  // 0: mapped
};

class MappingArguments : public testing::TestWithParam<ViewCase> {};

TEST_P(MappingArguments, AreCheckedAsWin32Does) {
    UseFreshEnvironment();
    const ViewCase& c = GetParam();
    HANDLE h = NewMapping(nullptr, c.cbObject, c.flProtect);
    EXPECT_EQ(h == nullptr ? GetLastError() : 0, c.dwCreateError);
    if (h == nullptr) return;
    char* pView = static_cast<char*>(MapViewOfFile(h, c.dwAccess, 0, c.dwOffset, c.cbView));
    EXPECT_EQ(pView == nullptr ? GetLastError() : 0, c.dwMapError);
    if (pView != nullptr && (c.dwAccess & FILE_MAP_WRITE) != 0) {  // it shows the object at the offset
        pView[0] = 'x';
        const char* pWhole = static_cast<const char*>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0));
        EXPECT_EQ(pWhole[c.dwOffset], 'x');
        UnmapViewOfFile(pWhole);
    }
    EXPECT_EQ(pView != nullptr && UnmapViewOfFile(pView + c.cbView / 2), pView != nullptr);
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Mapping, MappingArguments,
    testing::Values(
        ViewCase{"SizeZero", PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER, 0, 0, 0, 0},
        ViewCase{"ExecutableProtection", 0x40, 4096, ERROR_INVALID_PARAMETER, 0, 0, 0, 0},
        ViewCase{"ReadOfReadOnly", PAGE_READONLY, 4096, 0, FILE_MAP_READ, 0, 0, 0},
        ViewCase{"WriteOfReadOnly", PAGE_READONLY, 4096, 0, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
        ViewCase{"AllOfReadOnly", PAGE_READONLY, 4096, 0, FILE_MAP_ALL_ACCESS, 0, 0, ERROR_ACCESS_DENIED},
        ViewCase{"CopyOnWrite", PAGE_READWRITE, 4096, 0, kFileMapCopy, 0, 0, ERROR_INVALID_PARAMETER},
        ViewCase{"LargerThanObject", PAGE_READWRITE, 4096, 0, FILE_MAP_READ, 0, 4097, ERROR_ACCESS_DENIED},
        ViewCase{"OffsetOffGrain", PAGE_READWRITE, 0x20000, 0, FILE_MAP_READ, 4096, 0, kErrorMappedAlignment},
        ViewCase{"OffsetAtEnd", PAGE_READWRITE, 0x10000, 0, FILE_MAP_READ, 0x10000, 0, ERROR_INVALID_PARAMETER},
        ViewCase{"TailAtOffset", PAGE_READWRITE, 0x20000, 0, FILE_MAP_WRITE, 0x10000, 0, 0},
        ViewCase{"PartAtOffset", PAGE_READWRITE, 0x30000, 0, FILE_MAP_ALL_ACCESS, 0x10000, 100, 0}),
    [](const testing::TestParamInfo<ViewCase>& info) { return std::string(info.param.pszWhat); });

TEST(MappingSizes, BeyondAvailableMemoryAreRefusedUncommitted) {
    UseFreshEnvironment();
    for (const char* pszName : {static_cast<const char*>(nullptr), "huge"}) {  // 256 TiB
        EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0x10000, 0, pszName), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
    EXPECT_FALSE(ShmExists(ShmNameOf("mapping", "huge")));
}

TEST(MappingViews, UnmapFailsOutsideViews) {
    UseFreshEnvironment();
    HANDLE h = NewMapping(nullptr, 8192);
    char* pView = static_cast<char*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    EXPECT_TRUE(UnmapViewOfFile(pView + 5000));  // any address inside a view unmaps it
    int local = 0;
    for (const void* p : {static_cast<const void*>(pView), static_cast<const void*>(nullptr),
                          static_cast<const void*>(&local)}) {
        EXPECT_FALSE(UnmapViewOfFile(p));
        EXPECT_EQ(GetLastError(), kErrorInvalidAddress);
    }
    CloseHandle(h);
}

// --- Names and isolation -----------------------------------------------------

struct NamePair {
    const char* pszWhat;
    const char* pszFirst;
    std::string sSecond;
    bool bOtherNamespace;
    DWORD dwSecondError;  // ERROR_ALREADY_EXISTS: the same object
};

class IpcNames : public testing::TestWithParam<NamePair> {};

TEST_P(IpcNames, MapToObjectsAsOnWindows) {
    UseFreshEnvironment();
    HANDLE hFirst = NewMapping(GetParam().pszFirst);
    ASSERT_NE(hFirst, nullptr);
    if (GetParam().bOtherNamespace) UseFreshEnvironment();
    HANDLE hSecond = NewMapping(GetParam().sSecond.c_str());
    EXPECT_EQ(GetLastError(), GetParam().dwSecondError);
    if (hSecond != nullptr) CloseHandle(hSecond);
    CloseHandle(hFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Ipc, IpcNames,
    testing::Values(NamePair{"LocalIsTheSessionNamespace", "x", "Local\\x", false, ERROR_ALREADY_EXISTS},
                    NamePair{"GlobalIsAnotherNamespace", "x", "Global\\x", false, 0},
                    NamePair{"EncodingKeepsNamesApart", "a/", "a%2F", false, 0},
                    NamePair{"CaseMatters", "Case", "case", false, 0},
                    NamePair{"OtherIpcNamespace", "x", "x", true, 0},
                    NamePair{"UnknownDirectory", "x", "a\\b", false, ERROR_PATH_NOT_FOUND},
                    NamePair{"TooLongOnceEncoded", "x", std::string(100, '/'), false, ERROR_INVALID_NAME}),
    [](const testing::TestParamInfo<NamePair>& info) { return std::string(info.param.pszWhat); });

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

// --- Bad handles -------------------------------------------------------------

struct BadHandle {
    const char* pszWhat;
    HANDLE (*pfnMake)();
    DWORD dwReleaseError, dwWaitResult, dwMapError;  // 0: maps
};

HANDLE Closed(HANDLE h) {
    CloseHandle(h);
    return h;
}

class IpcBadHandles : public testing::TestWithParam<BadHandle> {};

TEST_P(IpcBadHandles, GiveErrorsNotCrashes) {
    UseFreshEnvironment();
    const BadHandle& c = GetParam();
    HANDLE h = c.pfnMake();
    EXPECT_FALSE(ReleaseMutex(h));
    EXPECT_EQ(GetLastError(), c.dwReleaseError);
    const DWORD dwWait = WaitForSingleObject(h, 0);
    EXPECT_EQ(dwWait, c.dwWaitResult);
    EXPECT_EQ(dwWait == WAIT_FAILED ? GetLastError() : ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE);
    if (dwWait == WAIT_OBJECT_0) ReleaseMutex(h);
    void* pView = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
    EXPECT_EQ(pView == nullptr ? GetLastError() : 0, c.dwMapError);
    if (pView != nullptr) UnmapViewOfFile(pView);
    if (h != INVALID_HANDLE_VALUE) {  // as a file to map, none of them is one
        EXPECT_EQ(CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 4096, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Ipc, IpcBadHandles,
    testing::Values(
        BadHandle{"Null", [] { return HANDLE(nullptr); }, ERROR_INVALID_HANDLE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        // The current process's pseudo handle: waiting on it times out.
        BadHandle{"Pseudo", [] { return INVALID_HANDLE_VALUE; }, ERROR_INVALID_HANDLE, WAIT_TIMEOUT,
                  ERROR_INVALID_HANDLE},
        BadHandle{"Unknown", [] { return reinterpret_cast<HANDLE>(0x4000fff0); }, ERROR_INVALID_HANDLE,
                  WAIT_FAILED, ERROR_INVALID_HANDLE},
        BadHandle{"ClosedMutex", [] { return Closed(CreateMutexA(nullptr, FALSE, nullptr)); },
                  ERROR_INVALID_HANDLE, WAIT_FAILED, ERROR_INVALID_HANDLE},
        BadHandle{"ClosedMapping", [] { return Closed(NewMapping(nullptr)); }, ERROR_INVALID_HANDLE,
                  WAIT_FAILED, ERROR_INVALID_HANDLE},
        BadHandle{"Mapping", [] { return NewMapping(nullptr); }, ERROR_INVALID_HANDLE, WAIT_FAILED, 0},
        BadHandle{"Mutex", [] { return CreateMutexA(nullptr, FALSE, nullptr); }, ERROR_NOT_OWNER,
                  WAIT_OBJECT_0, ERROR_INVALID_HANDLE}),
    [](const testing::TestParamInfo<BadHandle>& info) { return std::string(info.param.pszWhat); });

}  // namespace
