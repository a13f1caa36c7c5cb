// Named-object commands of the helper program: another process that holds,
// contends for, abandons or shares mutexes and mappings with a test.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "helper_commands.h"
#include "platform/platform.h"

namespace linkbay {
namespace test {
namespace {

// A view of the whole named mapping, or null after printing "FAILED <error>";
// *pbNew tells whether this call created it.
uint32_t* MapNamed(const char* pszName, DWORD cb, bool* pbNew, HANDLE* phMapping) {
    *phMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, cb, pszName);
    *pbNew = GetLastError() == ERROR_SUCCESS;
    void* pView = *phMapping != nullptr ? MapViewOfFile(*phMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (pView == nullptr) printf("FAILED %u\n", static_cast<unsigned>(GetLastError()));
    return static_cast<uint32_t*>(pView);
}

// True when the file behind the view at p has lost its name: a holder of an
// object nobody opening the name can reach any more.
bool IsViewOfRemovedFile(const void* p) {
    char szStart[32];
    snprintf(szStart, sizeof szStart, "%" PRIxPTR "-", reinterpret_cast<uintptr_t>(p));
    std::ifstream maps("/proc/self/maps");
    std::string sLine;
    while (std::getline(maps, sLine)) {
        if (sLine.compare(0, strlen(szStart), szStart) != 0) continue;
        return sLine.size() >= 10 && sLine.compare(sLine.size() - 10, 10, " (deleted)") == 0;
    }
    return false;
}

}  // namespace

// lock-mutex NAME [initial]: creates the mutex (owning it at creation with
// "initial") and prints "CREATED <error>"; without "initial" it then waits
// for it and prints "LOCKED <wait result>". Each "release" line releases it
// once and prints "RELEASED <result> <error>". It exits when its input
// closes, still owning whatever it owns.
int LockMutexCommand(int argc, char** argv) {
    if (argc < 1) return 2;
    const bool bInitial = argc > 1 && strcmp(argv[1], "initial") == 0;
    HANDLE h = CreateMutexA(nullptr, bInitial ? TRUE : FALSE, argv[0]);
    printf("CREATED %u\n", static_cast<unsigned>(GetLastError()));
    if (h == nullptr) return 1;
    if (!bInitial) printf("LOCKED %u\n", static_cast<unsigned>(WaitForSingleObject(h, INFINITE)));
    std::string sLine;
    while (ReadInputLine(&sLine)) {
        if (sLine != "release") continue;
        const BOOL bReleased = ReleaseMutex(h);
        printf("RELEASED %d %u\n", bReleased, bReleased ? 0u : static_cast<unsigned>(GetLastError()));
    }
    return 0;
}

// map NAME SIZE VALUE [on-go]: maps the named mapping (with "on-go", once a
// "go" line comes), prints "MAPPED <new|existing> <first word>", stores
// VALUE in the first word and prints "STORED". It keeps what it holds until
// its input closes, then exits without closing anything: the process's end
// does that, as on Windows.
int MapCommand(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string sLine;
    if (argc > 3 && strcmp(argv[3], "on-go") == 0 && !ReadInputLine(&sLine)) return 1;
    bool bNew = false;
    HANDLE h = nullptr;
    volatile uint32_t* pWord = MapNamed(argv[0], static_cast<DWORD>(strtoul(argv[1], nullptr, 0)), &bNew, &h);
    if (pWord == nullptr) return 1;
    printf("MAPPED %s %u\n", bNew ? "new" : "existing", *pWord);
    *pWord = static_cast<uint32_t>(strtoul(argv[2], nullptr, 0));
    printf("STORED\n");
    WaitForInputToClose();
    return 0;
}

// churn NAME COUNT: on a "go" line, opens and closes the mapping COUNT times
// and prints "CHURNED <times it held a removed object>".
int ChurnCommand(int argc, char** argv) {
    if (argc < 2) return 2;
    const long nCount = strtol(argv[1], nullptr, 0);
    std::string sLine;
    if (!ReadInputLine(&sLine)) return 1;
    unsigned nOrphaned = 0;
    for (long i = 0; i < nCount; ++i) {
        bool bNew = false;
        HANDLE h = nullptr;
        uint32_t* pView = MapNamed(argv[0], 4096, &bNew, &h);
        if (pView == nullptr) return 1;
        nOrphaned += IsViewOfRemovedFile(pView);
        UnmapViewOfFile(pView);
        CloseHandle(h);
    }
    printf("CHURNED %u\n", nOrphaned);
    return 0;
}

}  // namespace test
}  // namespace linkbay
