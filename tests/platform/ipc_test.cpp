// Named mutexes and mappings between real processes (exclusion, abandonment,
// Windows lifetime also when a holder is killed, one initialisation among
// racing openers, names, bad input), compared with Win32 under Wine. Where
// the POSIX layer keeps an object's file, it must go with the name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

constexpr DWORD kErrorInvalidAddress = 487;
constexpr DWORD kErrorMappedAlignment = 1132;
constexpr DWORD kFileMapCopy = 0x0001;

HANDLE NewMapping(const char* pszName, DWORD cb = 4096, DWORD flProtect = PAGE_READWRITE) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, flProtect, 0, cb, pszName);
}

DWORD FirstWord(HANDLE hMapping) {
    const DWORD* p = static_cast<const DWORD*>(MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0));
    const DWORD dwWord = p != nullptr ? *p : 0xdeadbeef;
    if (p != nullptr) UnmapViewOfFile(p);
    return dwWord;
}

// The POSIX layer's file behind a named mapping goes with its name.
void ExpectMappingFile(const char* pszName, bool bThere) {
    if (Applies(Holds::OnPosixLayerOnly)) {
        EXPECT_EQ(ObjectFileExists("mapping", pszName), bThere) << pszName;
    }
}

template <typename Fn>
DWORD OnOtherThread(Fn fn) {
    DWORD dwResult = 0;
    std::thread([&] { dwResult = fn(); }).join();
    return dwResult;
}

// Starts helpers with one command, lets them go at once, collects one line of each.
std::vector<std::string> RunTogether(int nCount, const std::vector<std::string>& args) {
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < nCount; ++i) children.push_back(std::make_unique<ChildProcess>(args));
    for (auto& child : children) child->writeLine("go");
    std::vector<std::string> lines;
    for (auto& child : children) lines.push_back(child->readLine(60000));
    return lines;
}

// A helper holding an object goes away: killed, or exiting.
class HolderEnds : public testing::TestWithParam<bool> {
protected:
    bool killed() const { return GetParam(); }
    void end(ChildProcess& holder) {
        if (killed()) holder.kill(); else holder.closeInput();
        EXPECT_GE(holder.wait(), 0);
    }
};
std::string EndName(const testing::TestParamInfo<bool>& info) { return info.param ? "killed" : "exits"; }

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) { return info.param.pszWhat; }

class MutexRecursion : public testing::TestWithParam<const char*> {};

// Another thread ending with it, however often it took it, abandons it to us
// for one release.
TEST_P(MutexRecursion, CountsForTheOwningThreadOnlyAndIsAbandonedWithIt) {
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
    EXPECT_EQ(OnOtherThread([&] {
                  return ReleaseMutex(h) ? WAIT_FAILED : WaitForSingleObject(h, 0) + WaitForSingleObject(h, 0);
              }),
              WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(h));
    EXPECT_FALSE(ReleaseMutex(h));
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

class MutexAbandoned : public HolderEnds {};

TEST_P(MutexAbandoned, ByAnEndedHolderGoesToTheNextWaiter) {
    UseFreshEnvironment();
    HANDLE h = CreateMutexA(nullptr, FALSE, "abandoned");
    {
        ChildProcess holder({"lock-mutex", "abandoned"});
        ASSERT_EQ(holder.readLine(), "CREATED 183");
        ASSERT_EQ(holder.readLine(), "LOCKED 0");
        end(holder);
    }
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_ABANDONED);
    EXPECT_EQ(OnOtherThread([&] { return WaitForSingleObject(h, 0); }), WAIT_TIMEOUT);  // ours now
    ChildProcess next({"lock-mutex", "abandoned"});
    ASSERT_EQ(next.readLine(), "CREATED 183");
    EXPECT_TRUE(ReleaseMutex(h));
    EXPECT_EQ(next.readLine(), "LOCKED 0");  // and sound again for the others
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Mutex, MutexAbandoned, testing::Bool(), EndName);

class MappingHolders : public HolderEnds {};

// Another process creates the mapping and we share it at its size. Once that
// process, holding the last handle, ends (however), the next opener gets a
// new object of zeros while our view keeps the old memory. The POSIX layer's
// file stays behind a killed holder only, for that opener to replace.
TEST_P(MappingHolders, NameGoesWithTheLastOneAndViewsKeepTheirMemory) {
    UseFreshEnvironment();
    volatile DWORD* pWord = nullptr;
    {
        ChildProcess holder({"map", "held", "4096", "9"});
        ASSERT_EQ(holder.readLine(), "MAPPED new 0");
        ASSERT_EQ(holder.readLine(), "STORED");
        HANDLE h = NewMapping("held", 65536);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 8192), nullptr);  // it kept its 4096 bytes
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        pWord = static_cast<DWORD*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        ASSERT_NE(pWord, nullptr);
        EXPECT_EQ(*pWord, 9u);
        EXPECT_TRUE(CloseHandle(h));
        end(holder);
    }
    ExpectMappingFile("held", killed());
    HANDLE hAgain = NewMapping("held");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(FirstWord(hAgain), 0u);
    *pWord = 10;
    EXPECT_EQ(FirstWord(hAgain), 0u);
    CloseHandle(hAgain);
    ExpectMappingFile("held", false);
    EXPECT_TRUE(UnmapViewOfFile(const_cast<DWORD*>(pWord)));
}

INSTANTIATE_TEST_SUITE_P(Mapping, MappingHolders, testing::Bool(), EndName);

// All hold it until every one has reported.
TEST(MappingProcesses, EightStartersInitialiseItOnce) {
    for (int round = 0; round < 3; ++round) {
        UseFreshEnvironment();
        int nNew = 0;
        // A name of its own each round: on Windows names are not in the test's namespace, and one
        // whose last holders are still ending may be handed out again as it goes.
        const std::string sName = "meet" + std::to_string(round) + "-" + std::to_string(GetCurrentProcessId());
        // The creator reads its first word after creating the mapping, so another starter may
        // already have stored its 1 there: only who created it is certain.
        for (const std::string& sLine : RunTogether(8, {"map", sName, "4096", "1", "on-go"})) {
            const bool bNew = sLine == "MAPPED new 0" || sLine == "MAPPED new 1";
            EXPECT_TRUE(bNew || sLine == "MAPPED existing 0" || sLine == "MAPPED existing 1") << sLine;
            nNew += bNew;
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

// A name lasts as long as some handle to its object, here a second one of
// ours: a view keeps the memory, not the name.
class MappingNames : public testing::TestWithParam<bool> {};

TEST_P(MappingNames, GoWithTheLastHandleNotTheLastView) {
    UseFreshEnvironment();
    const bool bOtherHandleOpen = GetParam();
    HANDLE h = NewMapping("outlive");
    HANDLE hOther = bOtherHandleOpen ? NewMapping("outlive") : nullptr;
    volatile DWORD* pWord = static_cast<DWORD*>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(pWord, nullptr);
    *pWord = 7;
    EXPECT_TRUE(CloseHandle(h));
    ExpectMappingFile("outlive", bOtherHandleOpen);
    HANDLE hAgain = NewMapping("outlive");
    EXPECT_EQ(GetLastError(), bOtherHandleOpen ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    EXPECT_EQ(FirstWord(hAgain), bOtherHandleOpen ? 7u : 0u);
    DWORD* pAgain = static_cast<DWORD*>(MapViewOfFile(hAgain, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(pAgain, nullptr);
    *pAgain = 5;
    EXPECT_EQ(*pWord, bOtherHandleOpen ? 5u : 7u);
    EXPECT_TRUE(UnmapViewOfFile(pAgain));
    CloseHandle(hAgain);
    if (hOther != nullptr) CloseHandle(hOther);
    ExpectMappingFile("outlive", false);  // though our first view is still there
    EXPECT_TRUE(UnmapViewOfFile(const_cast<DWORD*>(pWord)));
}

INSTANTIATE_TEST_SUITE_P(Mapping, MappingNames, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "OtherHandleOpen" : "ViewHere");
});

struct ViewCase {
    const char* pszWhat;
    DWORD flProtect, cbObject, dwCreateError;  // 0: created
    DWORD dwAccess, dwOffset, cbView, dwMapError;  // 0: mapped
    // Win32 also makes executable sections and copy-on-write views; the POSIX
    // layer offers neither (nothing here needs them) and refuses them.
    Holds holds = Holds::Everywhere;
};

class MappingArguments : public testing::TestWithParam<ViewCase> {};

TEST_P(MappingArguments, AreCheckedAsWin32Does) {
    UseFreshEnvironment();
    const ViewCase& c = GetParam();
    if (!Applies(c.holds)) GTEST_SKIP() << "the POSIX layer's own refusal";
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
    if (pView != nullptr) {
        EXPECT_TRUE(UnmapViewOfFile(pView + c.cbView / 2));  // any address inside a view unmaps it
        EXPECT_FALSE(UnmapViewOfFile(pView));
        EXPECT_EQ(GetLastError(), kErrorInvalidAddress);
    }
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Mapping, MappingArguments,
    testing::Values(
        ViewCase{"SizeZero", PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER, 0, 0, 0, 0},
        ViewCase{"ExecutableProtection", 0x40, 4096, ERROR_INVALID_PARAMETER, 0, 0, 0, 0, Holds::OnPosixLayerOnly},
        ViewCase{"ReadOfReadOnly", PAGE_READONLY, 4096, 0, FILE_MAP_READ, 0, 0, 0},
        ViewCase{"WriteOfReadOnly", PAGE_READONLY, 4096, 0, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
        ViewCase{"CopyOnWrite", PAGE_READWRITE, 4096, 0, kFileMapCopy, 0, 0, ERROR_INVALID_PARAMETER,
                 Holds::OnPosixLayerOnly},
        ViewCase{"LargerThanObject", PAGE_READWRITE, 4096, 0, FILE_MAP_READ, 0, 4097, ERROR_ACCESS_DENIED},
        ViewCase{"OffsetOffGrain", PAGE_READWRITE, 0x20000, 0, FILE_MAP_READ, 4096, 0, kErrorMappedAlignment},
        ViewCase{"OffsetAtEnd", PAGE_READWRITE, 0x10000, 0, FILE_MAP_READ, 0x10000, 0, ERROR_INVALID_PARAMETER},
        ViewCase{"TailAtOffset", PAGE_READWRITE, 0x20000, 0, FILE_MAP_WRITE, 0x10000, 0, 0},
        ViewCase{"PartAtOffset", PAGE_READWRITE, 0x30000, 0, FILE_MAP_ALL_ACCESS, 0x10000, 100, 0}),
    CaseName<ViewCase>);

TEST(MappingSizes, BeyondAvailableMemoryAreRefusedUncommitted) {
    UseFreshEnvironment();
    for (const char* pszName : {static_cast<const char*>(nullptr), "huge"}) {  // 256 TiB
        EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0x10000, 0, pszName), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
    ExpectMappingFile("huge", false);
}

TEST(MappingViews, UnmapFailsOutsideViews) {
    int local = 0;
    for (const void* p : {static_cast<const void*>(nullptr), static_cast<const void*>(&local)}) {
        EXPECT_FALSE(UnmapViewOfFile(p));
        EXPECT_EQ(GetLastError(), kErrorInvalidAddress);
    }
}

struct NamePair {
    const char* pszWhat;
    const char* pszFirst;
    std::string sSecond;
    DWORD dwSecondError;  // ERROR_ALREADY_EXISTS: the same object
    // The POSIX layer keeps runs apart by the namespace variable (Win32 has
    // none), and its file names bound how long an encoded name may grow.
    Holds holds = Holds::Everywhere;
    bool bFreshNamespace = false;  // the second opener runs in a namespace of its own
};

class IpcNames : public testing::TestWithParam<NamePair> {};

TEST_P(IpcNames, MapToObjectsAsOnWindows) {
    const NamePair& c = GetParam();
    if (!Applies(c.holds)) GTEST_SKIP() << "the POSIX layer's own names";
    UseFreshEnvironment();
    HANDLE hFirst = NewMapping(c.pszFirst);
    ASSERT_NE(hFirst, nullptr);
    if (c.bFreshNamespace) UseFreshEnvironment();
    HANDLE hSecond = NewMapping(c.sSecond.c_str());
    EXPECT_EQ(GetLastError(), c.dwSecondError);
    if (hSecond != nullptr) CloseHandle(hSecond);
    CloseHandle(hFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Ipc, IpcNames,
    testing::Values(NamePair{"LocalIsTheSessionNamespace", "x", "Local\\x", ERROR_ALREADY_EXISTS},
                    NamePair{"GlobalIsAnotherNamespace", "x", "Global\\x", 0},
                    NamePair{"EncodingKeepsNamesApart", "a/", "a%2F", 0},
                    NamePair{"CaseMatters", "Case", "case", 0},
                    NamePair{"UnknownDirectory", "x", "a\\b", ERROR_PATH_NOT_FOUND},
                    NamePair{"OtherIpcNamespace", "x", "x", 0, Holds::OnPosixLayerOnly, true},
                    NamePair{"TooLongOnceEncoded", "x", std::string(100, '/'), ERROR_INVALID_NAME,
                             Holds::OnPosixLayerOnly}),
    CaseName<NamePair>);

struct BadHandle {
    const char* pszWhat;
    HANDLE (*pfnMake)();
    DWORD dwReleaseError, dwWaitResult, dwWaitError, dwMapError;  // 0: maps
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
    if (dwWait == WAIT_FAILED) {
        EXPECT_EQ(GetLastError(), c.dwWaitError);
    }
    if (dwWait == WAIT_OBJECT_0) ReleaseMutex(h);
    void* pView = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
    EXPECT_EQ(pView == nullptr ? GetLastError() : 0, c.dwMapError);
    if (pView != nullptr) UnmapViewOfFile(pView);
    // As a file to map, none of them is one. Wine makes a page-file section
    // for a null file handle as if it were INVALID_HANDLE_VALUE.
    if (h != INVALID_HANDLE_VALUE && (h != nullptr || Applies(Holds::NotUnderWine))) {
        EXPECT_EQ(CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 4096, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Ipc, IpcBadHandles,
    testing::Values(
        BadHandle{"Null", [] { return HANDLE(nullptr); }, ERROR_INVALID_HANDLE, WAIT_FAILED, ERROR_INVALID_HANDLE,
                  ERROR_INVALID_HANDLE},
        // The current process's pseudo handle: waiting on it times out.
        BadHandle{"Pseudo", [] { return INVALID_HANDLE_VALUE; }, ERROR_INVALID_HANDLE, WAIT_TIMEOUT, 0,
                  ERROR_INVALID_HANDLE},
        BadHandle{"Unknown", [] { return reinterpret_cast<HANDLE>(0x4000fff0); }, ERROR_INVALID_HANDLE,
                  WAIT_FAILED, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
        BadHandle{"ClosedMutex", [] { return Closed(CreateMutexA(nullptr, FALSE, nullptr)); },
                  ERROR_INVALID_HANDLE, WAIT_FAILED, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
        // A section handle has no right to be waited on.
        BadHandle{"Mapping", [] { return NewMapping(nullptr); }, ERROR_INVALID_HANDLE, WAIT_FAILED,
                  ERROR_ACCESS_DENIED, 0},
        BadHandle{"Mutex", [] { return CreateMutexA(nullptr, FALSE, nullptr); }, ERROR_NOT_OWNER,
                  WAIT_OBJECT_0, 0, ERROR_INVALID_HANDLE}),
    CaseName<BadHandle>);

}  // namespace
}  // namespace test
}  // namespace linkbay
