// Named mutexes and page-file backed mappings with their Windows lifetime:
// a name stands for its object while some process holds a handle to it, and
// the next process to open the name after every handle has gone (however it
// went) gets a new object of zeros. Views keep their object's memory, not its
// name. Objects are files, one per name, in a directory private to the user
// (object_directory.h), so nobody else can take a name first.
//
// Per object file, two independent locks do the bookkeeping:
// - the guard, an open-file-description lock on byte 0, serialises the
//   processes that create, replace, join or leave the object;
// - the holder mark, flock(LOCK_SH) kept for every handle; under the guard,
//   flock(LOCK_EX|LOCK_NB) succeeds only when no holder is left, and the
//   kernel drops the marks of killed processes for us.
// A holder that closes removes the name when it was the last; a file found
// named with content but without holders was left by killed holders and is
// replaced, never reset, as views of it may still be mapped elsewhere.
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>

#include "handles.h"
#include "object_directory.h"

namespace linkbay {
namespace platform {
namespace posix {
namespace {

constexpr size_t kMaxObjects = 256;
constexpr size_t kMaxViews = 256;
constexpr size_t kMaxShmName = NAME_MAX + 1;
constexpr uint64_t kAllocationGranularity = 0x10000;
constexpr DWORD kFileMapCopy = 0x0001u;
constexpr int kProcessPollSliceMs = 10;

// ---------------------------------------------------------------------------
// Names

struct KindTag {
    HandleKind kind;
    const char* pszTag;
};

const KindTag kKindTags[] = {{HandleKind::Mutex, "mutex"}, {HandleKind::Mapping, "mapping"}};

const char* TagOf(HandleKind kind) {
    for (const KindTag& tag : kKindTags) {
        if (tag.kind == kind) return tag.pszTag;
    }
    return "object";
}

// Windows resolves "Local\" to the session namespace a bare name already
// lives in; "Global\" is a namespace of its own, kept as part of the name.
const char kLocalPrefix[] = "Local\\";
const char kGlobalPrefix[] = "Global\\";

bool StartsWith(const char* psz, const char* pszPrefix) {
    return strncmp(psz, pszPrefix, strlen(pszPrefix)) == 0;
}

bool IsNameSafe(unsigned char c, bool bDotSafe) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || (bDotSafe && c == '.');
}

// A shm name built in place; bFits turns false once something did not fit.
struct ShmName {
    char sz[kMaxShmName] = {};
    size_t cch = 0;
    bool bFits = true;

    void put(char c) {
        if (cch + 1 < sizeof sz) {
            sz[cch++] = c;
        } else {
            bFits = false;
        }
    }
    void raw(const char* psz) {
        while (*psz) put(*psz++);
    }
    // Bytes a shm name cannot carry become %XX, so distinct names stay distinct.
    void encoded(const char* psz, bool bDotSafe) {
        static const char kHex[] = "0123456789ABCDEF";
        for (; *psz; ++psz) {
            const unsigned char c = static_cast<unsigned char>(*psz);
            if (IsNameSafe(c, bDotSafe)) {
                put(static_cast<char>(c));
            } else {
                put('%');
                put(kHex[c >> 4]);
                put(kHex[c & 15]);
            }
        }
    }
};

// "<kind>.<namespace>.<name>". The namespace has its dots encoded, so the
// fields split unambiguously. Returns 0 or a Win32 error.
DWORD BuildShmName(HandleKind kind, const char* pszName, ShmName* pName) {
    const char* pszBody = pszName;
    if (StartsWith(pszBody, kLocalPrefix)) pszBody += strlen(kLocalPrefix);
    const char* pszLeaf = pszBody;
    if (StartsWith(pszLeaf, kGlobalPrefix)) pszLeaf += strlen(kGlobalPrefix);
    if (strchr(pszLeaf, '\\') != nullptr) return ERROR_PATH_NOT_FOUND;
    const char* pszNamespace = getenv("LINKBAY_IPC_NAMESPACE");
    pName->raw(TagOf(kind));
    pName->put('.');
    pName->encoded(pszNamespace != nullptr ? pszNamespace : "", false);
    pName->put('.');
    pName->encoded(pszBody, true);
    return pName->bFits ? ERROR_SUCCESS : ERROR_INVALID_NAME;
}

// ---------------------------------------------------------------------------
// Object files: creation, replacement, holders

// What a new object needs, and what an existing one must at least have.
struct ObjectShape {
    uint64_t cbNew = 0;
    uint64_t cbMinimum = 1;
    // Runs on a new, zero-filled object before any other process can see it.
    bool (*pfnInitialise)(int fd, void* pContext) = nullptr;
    void* pContext = nullptr;
};

// A name: its file in the directory of named objects.
struct ObjectName {
    int fdDirectory = -1;
    const char* pszLeaf = nullptr;
};

void RemoveName(const ObjectName& name) { unlinkat(name.fdDirectory, name.pszLeaf, 0); }

struct ObjectFile {
    int fd = -1;
    uint64_t cbSize = 0;
    bool bCreated = false;
};

// Sizes that do not fit are the page file being full, as Windows says it.
void SetLastErrorForAllocation(int err) {
    if (err == ENOSPC || err == EFBIG || err == ENOMEM) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else {
        SetLastErrorFromErrno(err);
    }
}

bool FlockRetrying(int fd, int operation) {
    while (flock(fd, operation) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool SetGuard(int fd, short type, int command) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    while (fcntl(fd, command, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool LockGuard(int fd) { return SetGuard(fd, F_WRLCK, F_OFD_SETLKW); }
void UnlockGuard(int fd) { SetGuard(fd, F_UNLCK, F_OFD_SETLK); }

// False once a last closer has removed the name behind this descriptor.
bool IsStillNamed(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_nlink > 0;
}

// Only our own files, private to us, are ever locked, mapped, sized or removed.
bool IsPrivateToUs(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 07777) == 0600;
}

// Opens the file behind the name, creating it when missing, never through a
// link; a file this call creates gets mode 0600 whatever the umask.
int OpenOrCreateFile(const ObjectName& name) {
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    for (;;) {
        int fd = openat(name.fdDirectory, name.pszLeaf, kFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            if (fchmod(fd, 0600) == 0) return fd;
            const int err = errno;
            RemoveName(name);
            close(fd);
            errno = err;
            return -1;
        }
        if (errno != EEXIST) return -1;
        fd = openat(name.fdDirectory, name.pszLeaf, kFlags);
        if (fd >= 0 || errno != ENOENT) return fd;
    }
}

// Gives a new, empty file its size in zeros.
bool CommitZeros(int fd, uint64_t cb) {
    if (ftruncate(fd, static_cast<off_t>(cb)) != 0) return false;
    // Reserve the pages now, as Windows commits a page-file section at
    // creation, rather than fault with SIGBUS on a later write.
    const int err = posix_fallocate(fd, 0, static_cast<off_t>(cb));
    if (err != 0) errno = err;
    return err == 0;
}

// Memory a new object may still take, as the commit limit bounds a section
// on Windows; an absurd size fails here instead of exhausting the machine.
uint64_t AvailableMemory() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return UINT64_MAX;
    return (static_cast<uint64_t>(info.freeram) + info.bufferram + info.freeswap) * info.mem_unit;
}

bool InitialiseFresh(int fd, const ObjectShape& shape) {
    if (shape.cbNew > AvailableMemory()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!CommitZeros(fd, shape.cbNew)) {
        SetLastErrorForAllocation(errno);
        return false;
    }
    if (shape.pfnInitialise != nullptr && !shape.pfnInitialise(fd, shape.pContext)) {
        SetLastErrorForAllocation(errno);
        return false;
    }
    return true;
}

enum class Joined { Yes, No, Abandoned };

// Under the guard, with no holder left: initialises a new (empty) file and
// takes the holder mark. A file with content was left by holders that ended
// without closing: its name is removed for a new object to take its place.
Joined FoundAlone(int fd, const ObjectName& name, const ObjectShape& shape, ObjectFile* pFile) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        SetLastErrorFromErrno(errno);
        return Joined::No;
    }
    if (st.st_size != 0) {
        RemoveName(name);
        return Joined::Abandoned;
    }
    if (!InitialiseFresh(fd, shape)) {
        RemoveName(name);
        return Joined::No;
    }
    if (!FlockRetrying(fd, LOCK_SH)) {
        SetLastErrorFromErrno(errno);
        RemoveName(name);
        return Joined::No;
    }
    pFile->cbSize = shape.cbNew;
    pFile->bCreated = true;
    return Joined::Yes;
}

// Under the guard: takes the holder mark of the object behind the name.
Joined JoinHolders(int fd, const ObjectName& name, const ObjectShape& shape, ObjectFile* pFile) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return FoundAlone(fd, name, shape, pFile);
    // LOCK_EX is only ever held under the guard, so this cannot block.
    if ((errno != EWOULDBLOCK && errno != EINTR) || !FlockRetrying(fd, LOCK_SH)) {
        SetLastErrorFromErrno(errno);
        return Joined::No;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) < shape.cbMinimum) {
        SetLastError(ERROR_INVALID_HANDLE);
        return Joined::No;
    }
    pFile->cbSize = static_cast<uint64_t>(st.st_size);
    pFile->bCreated = false;
    return Joined::Yes;
}

bool OpenNamedFile(const ObjectName& name, const ObjectShape& shape, ObjectFile* pFile) {
    for (;;) {
        const int fd = OpenOrCreateFile(name);
        if (fd < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        if (!IsPrivateToUs(fd)) {
            close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (!LockGuard(fd)) {
            SetLastErrorFromErrno(errno);
            close(fd);
            return false;
        }
        // Not named any more: its last holder removed it meanwhile; take the new one.
        const Joined joined =
            IsStillNamed(fd) ? JoinHolders(fd, name, shape, pFile) : Joined::Abandoned;
        UnlockGuard(fd);
        if (joined != Joined::Yes) close(fd);
        if (joined == Joined::Abandoned) continue;
        if (joined == Joined::No) return false;
        pFile->fd = fd;
        return true;
    }
}

// Unnamed objects are anonymous memory of this process alone.
bool OpenPrivateFile(const ObjectShape& shape, ObjectFile* pFile) {
    const int fd = memfd_create("linkbay-object", MFD_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    if (!InitialiseFresh(fd, shape)) {
        close(fd);
        return false;
    }
    pFile->fd = fd;
    pFile->cbSize = shape.cbNew;
    pFile->bCreated = true;
    return true;
}

// Drops the holder mark; the last holder removes the name, so that the next
// opener starts afresh and finished objects do not pile up. The descriptor
// stays open for the views and calls still using it. Without the guard the
// name stays, and the next opener replaces it as abandoned.
void LeaveHolders(int fd, const ObjectName& name) {
    const bool bGuarded = LockGuard(fd);
    if (bGuarded && flock(fd, LOCK_EX | LOCK_NB) == 0 && IsStillNamed(fd)) RemoveName(name);
    FlockRetrying(fd, LOCK_UN);
    if (bGuarded) UnlockGuard(fd);
}

// ---------------------------------------------------------------------------
// The mutex in shared memory

struct SharedMutex {
    pthread_mutex_t mutex;
};

SharedMutex* MapMutex(int fd) {
    void* p = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<SharedMutex*>(p);
}

// Process-shared for other processes, robust so that a holder's end is
// seen as abandonment, recursive as a Windows mutex is for its owner.
bool InitialiseWindowsMutex(pthread_mutex_t* pMutex) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    const bool bSet = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                      pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                      pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0;
    const int err = bSet ? pthread_mutex_init(pMutex, &attr) : EINVAL;
    pthread_mutexattr_destroy(&attr);
    errno = err;
    return err == 0;
}

struct MutexCreation {
    bool bInitialOwner = false;
    SharedMutex* pMapped = nullptr;  // set when the mutex was initialised here
    bool bOwned = false;
};

bool InitialiseMutexObject(int fd, void* pContext) {
    MutexCreation* pCreation = static_cast<MutexCreation*>(pContext);
    pCreation->pMapped = MapMutex(fd);
    if (pCreation->pMapped == nullptr || !InitialiseWindowsMutex(&pCreation->pMapped->mutex))
        return false;
    if (!pCreation->bInitialOwner) return true;
    // Taken before anyone else can see the object, as CreateMutex promises.
    errno = pthread_mutex_lock(&pCreation->pMapped->mutex);
    pCreation->bOwned = errno == 0;
    return pCreation->bOwned;
}

// glibc links a robust mutex into its owner thread's robust list through
// the mutex memory itself, so that memory must stay mapped while a live
// thread of ours owns it. The futex word carries the owner's thread id.
bool IsOwnedByLiveThreadOfOurs(const SharedMutex* pShared) {
    const int word = __atomic_load_n(&pShared->mutex.__data.__lock, __ATOMIC_ACQUIRE);
    const pid_t tid = static_cast<pid_t>(word & FUTEX_TID_MASK);
    return tid != 0 && syscall(SYS_tgkill, getpid(), tid, 0) == 0;
}

// A monotonic deadline; INFINITE never passes.
class Deadline {
public:
    explicit Deadline(DWORD dwMilliseconds) : m_bInfinite(dwMilliseconds == INFINITE) {
        clock_gettime(CLOCK_MONOTONIC, &m_at);
        m_at.tv_sec += dwMilliseconds / 1000;
        m_at.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
        if (m_at.tv_nsec >= 1000000000L) {
            m_at.tv_sec += 1;
            m_at.tv_nsec -= 1000000000L;
        }
    }
    const timespec& at() const { return m_at; }
    // Milliseconds left, rounded up; -1 for INFINITE.
    int remainingMs() const {
        if (m_bInfinite) return -1;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long ns = (static_cast<long long>(m_at.tv_sec) - now.tv_sec) * 1000000000LL +
                             (m_at.tv_nsec - now.tv_nsec);
        const long long ms = (ns + 999999) / 1000000;
        return ns <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

private:
    bool m_bInfinite;
    timespec m_at{};
};

DWORD WaitForMutex(SharedMutex* pShared, DWORD dwMilliseconds) {
    pthread_mutex_t* pMutex = &pShared->mutex;
    int rc;
    if (dwMilliseconds == 0) {
        rc = pthread_mutex_trylock(pMutex);
    } else if (dwMilliseconds == INFINITE) {
        rc = pthread_mutex_lock(pMutex);
    } else {
        const Deadline deadline(dwMilliseconds);
        rc = pthread_mutex_clocklock(pMutex, CLOCK_MONOTONIC, &deadline.at());
    }
    switch (rc) {
    case 0: return WAIT_OBJECT_0;
    case EBUSY:
    case ETIMEDOUT: return WAIT_TIMEOUT;
    case EOWNERDEAD:
        // The holder ended holding it: the caller owns it now, once.
        pthread_mutex_consistent(pMutex);
        return WAIT_ABANDONED;
    default: SetLastErrorFromErrno(rc); return WAIT_FAILED;
    }
}

// ---------------------------------------------------------------------------
// Process waits

// Without a pidfd: gone, or a zombie nobody has reaped yet.
bool HasProcessExited(DWORD pid) {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    char szPath[48];
    snprintf(szPath, sizeof szPath, "/proc/%lu/stat", static_cast<unsigned long>(pid));
    const int fd = open(szPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    char szStat[512];
    const ssize_t cb = read(fd, szStat, sizeof szStat - 1);
    close(fd);
    if (cb <= 0) return false;
    szStat[cb] = '\0';
    const char* pszEnd = strrchr(szStat, ')');  // the command name may hold anything
    return pszEnd != nullptr && (pszEnd[1] == ' ') && (pszEnd[2] == 'Z' || pszEnd[2] == 'X');
}

DWORD WaitForProcessExit(const HandleEntry& entry, DWORD dwMilliseconds) {
    // A pid outside pid_t's positive range would name a process group to kill().
    if (entry.fd < 0 && (entry.pid == 0 || entry.pid > static_cast<DWORD>(INT_MAX))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const Deadline deadline(dwMilliseconds);
    for (;;) {
        const int msLeft = deadline.remainingMs();
        if (entry.fd >= 0) {
            pollfd pfd{entry.fd, POLLIN, 0};
            const int rc = poll(&pfd, 1, msLeft);
            if (rc > 0 && (pfd.revents & POLLNVAL) != 0) {
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
            }
            if (rc > 0) return WAIT_OBJECT_0;
            if (rc < 0 && errno != EINTR) {
                SetLastErrorFromErrno(errno);
                return WAIT_FAILED;
            }
        } else {
            if (HasProcessExited(entry.pid)) return WAIT_OBJECT_0;
            const bool bLong = msLeft < 0 || msLeft > kProcessPollSliceMs;
            const int msSlice = bLong ? kProcessPollSliceMs : msLeft;
            std::this_thread::sleep_for(std::chrono::milliseconds(msSlice));
        }
        if (deadline.remainingMs() == 0) return WAIT_TIMEOUT;
    }
}

// The current process's pseudo handle signals when the process has ended,
// that is never for its own threads.
DWORD WaitForOwnExit(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    return WAIT_TIMEOUT;
}

// ---------------------------------------------------------------------------
// In-process records: one per open (handle), kept alive by its handle, its
// views and the calls in progress on it. Only the handle holds the name.

struct ObjectRecord {
    HandleKind kind = HandleKind::None;  // None: a free slot
    int fd = -1;
    bool bHoldsName = false;  // named, until its handle is closed
    bool bWritable = false;   // Mapping: opened with PAGE_READWRITE
    bool bPinned = false;     // closed while one of our live threads owns the mutex
    pid_t pidOpener = 0;      // a forked child shares our locks and must not release them
    uint64_t cbSize = 0;
    SharedMutex* pMutex = nullptr;
    unsigned nRefs = 0;
    int fdDirectory = -1;  // named objects: the directory that holds the name
    char szShmName[kMaxShmName] = {};

    ObjectName name() const { return ObjectName{fdDirectory, szShmName}; }
};

struct ViewRecord {
    char* pBase = nullptr;
    size_t cbMapped = 0;  // whole pages
    ObjectRecord* pObject = nullptr;
};

struct Registry {
    ShortLock lock;
    size_t nPinned = 0;
    ObjectRecord objects[kMaxObjects];
    ViewRecord views[kMaxViews];
};

void LeaveAllAtExit();

Registry& TheRegistry() {
    // Never destroyed: other threads may still call in while the process exits.
    // Static storage rather than the heap, so an unloaded library leaves no
    // allocation behind.
    alignas(Registry) static unsigned char s_storage[sizeof(Registry)];
    static Registry* const pRegistry = [] {
        atexit(LeaveAllAtExit);
        return new (s_storage) Registry;
    }();
    return *pRegistry;
}

void ReleaseResources(const ObjectRecord& record) {
    if (record.pMutex != nullptr) munmap(record.pMutex, sizeof(SharedMutex));
    if (record.bHoldsName && record.pidOpener == getpid()) LeaveHolders(record.fd, record.name());
    if (record.fd >= 0) close(record.fd);
    if (record.fdDirectory >= 0) close(record.fdDirectory);
}

ObjectRecord* AddRecord(const ObjectRecord& record) {
    Registry& registry = TheRegistry();
    std::lock_guard<ShortLock> guard(registry.lock);
    for (ObjectRecord& slot : registry.objects) {
        if (slot.kind != HandleKind::None) continue;
        slot = record;
        slot.nRefs = 1;
        return &slot;
    }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
}

// Takes a reference on the record behind a handle of one of the kinds; the
// registry lock keeps CloseHandle from releasing it in between.
bool AcquireHandle(HANDLE h, HandleKind kindA, HandleKind kindB, HandleEntry* pEntry,
                   ObjectRecord** ppRecord) {
    Registry& registry = TheRegistry();
    std::lock_guard<ShortLock> guard(registry.lock);
    if (!FindHandle(h, pEntry, kindA, kindB)) return false;
    const bool bOurs = pEntry->kind == HandleKind::Mutex || pEntry->kind == HandleKind::Mapping;
    *ppRecord = bOurs ? static_cast<ObjectRecord*>(pEntry->object) : nullptr;
    if (*ppRecord != nullptr) ++(*ppRecord)->nRefs;
    return true;
}

ObjectRecord* AcquireObject(HANDLE h, HandleKind kind) {
    HandleEntry entry;
    ObjectRecord* pRecord = nullptr;
    if (!AcquireHandle(h, kind, kind, &entry, &pRecord)) return nullptr;
    if (pRecord == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return pRecord;
}

void DropReference(ObjectRecord* pRecord) {
    Registry& registry = TheRegistry();
    ObjectRecord closing;
    {
        std::lock_guard<ShortLock> guard(registry.lock);
        if (--pRecord->nRefs > 0) return;
        if (pRecord->pMutex != nullptr && IsOwnedByLiveThreadOfOurs(pRecord->pMutex)) {
            pRecord->bPinned = true;
            ++registry.nPinned;
            return;
        }
        closing = *pRecord;
        *pRecord = ObjectRecord{};
    }
    ReleaseResources(closing);
}

// Lets go of closed mutexes whose owner thread has released them or ended.
void ReleaseUnpinned() {
    Registry& registry = TheRegistry();
    for (ObjectRecord& slot : registry.objects) {
        ObjectRecord closing;
        {
            std::lock_guard<ShortLock> guard(registry.lock);
            if (registry.nPinned == 0) return;
            if (!slot.bPinned || IsOwnedByLiveThreadOfOurs(slot.pMutex)) continue;
            --registry.nPinned;
            closing = slot;
            slot = ObjectRecord{};
        }
        ReleaseResources(closing);
    }
}

// Lets go of the name a record's handle holds, once; the record itself lives
// on for its views. A forked child shares our holder marks and leaves them be.
void LeaveNameOf(ObjectRecord* pRecord) {
    Registry& registry = TheRegistry();
    {
        std::lock_guard<ShortLock> guard(registry.lock);
        if (pRecord->kind == HandleKind::None || !pRecord->bHoldsName) return;
        if (pRecord->pidOpener != getpid()) return;
        pRecord->bHoldsName = false;
        ++pRecord->nRefs;  // keeps the descriptor and the name here meanwhile
    }
    LeaveHolders(pRecord->fd, pRecord->name());
    DropReference(pRecord);
}

// Process exit closes every handle, as on Windows, so the last holder of an
// object removes its name. Views stay mapped until the process is gone.
void LeaveAllAtExit() {
    for (ObjectRecord& slot : TheRegistry().objects) LeaveNameOf(&slot);
}

bool AddView(char* pBase, size_t cbMapped, ObjectRecord* pObject) {
    Registry& registry = TheRegistry();
    std::lock_guard<ShortLock> guard(registry.lock);
    for (ViewRecord& slot : registry.views) {
        if (slot.pBase != nullptr) continue;
        slot = ViewRecord{pBase, cbMapped, pObject};
        return true;
    }
    return false;
}

// Windows unmaps the view that contains the address, wherever in it.
bool TakeViewContaining(const void* pAddress, ViewRecord* pView) {
    Registry& registry = TheRegistry();
    std::lock_guard<ShortLock> guard(registry.lock);
    const char* p = static_cast<const char*>(pAddress);
    for (ViewRecord& slot : registry.views) {
        if (slot.pBase == nullptr || p < slot.pBase || p >= slot.pBase + slot.cbMapped) continue;
        *pView = slot;
        slot = ViewRecord{};
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Creation shared by both kinds

// Opens the object a name (or no name) stands for into the record.
bool OpenObject(HandleKind kind, LPCSTR lpName, const ObjectShape& shape, ObjectRecord* pRecord,
                ObjectFile* pFile) {
    pRecord->kind = kind;
    pRecord->pidOpener = getpid();
    pRecord->bHoldsName = lpName != nullptr && *lpName != '\0';
    if (!pRecord->bHoldsName) return OpenPrivateFile(shape, pFile);
    ShmName name;
    const DWORD dwError = BuildShmName(kind, lpName, &name);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return false;
    }
    memcpy(pRecord->szShmName, name.sz, sizeof name.sz);
    char szWhyNot[512];
    pRecord->fdDirectory = OpenObjectDirectory(szWhyNot, sizeof szWhyNot);
    if (pRecord->fdDirectory < 0) return false;
    if (OpenNamedFile(pRecord->name(), shape, pFile)) return true;
    close(pRecord->fdDirectory);
    pRecord->fdDirectory = -1;
    return false;
}

// Releases an object that never got a handle, undoing the ownership its
// creation took (nothing else can have locked it through this mapping).
void DiscardUnpublished(const ObjectRecord& record, bool bOwnedAtCreation) {
    if (bOwnedAtCreation) pthread_mutex_unlock(&record.pMutex->mutex);
    ReleaseResources(record);
}

void ForgetRecord(ObjectRecord* pRecord) {
    Registry& registry = TheRegistry();
    std::lock_guard<ShortLock> guard(registry.lock);
    *pRecord = ObjectRecord{};
}

// Hands out a handle to an opened object, reporting whether it existed.
HANDLE Publish(const ObjectRecord& record, bool bCreated, bool bOwnedAtCreation) {
    ObjectRecord* pRecord = AddRecord(record);
    HANDLE h = nullptr;
    if (pRecord != nullptr) {
        HandleEntry entry;
        entry.kind = record.kind;
        entry.object = pRecord;
        h = AddHandle(entry);
    }
    if (h == nullptr) {
        const DWORD dwError = GetLastError();
        if (pRecord != nullptr) ForgetRecord(pRecord);
        DiscardUnpublished(record, bOwnedAtCreation);
        SetLastError(dwError);
        return nullptr;
    }
    SetLastError(bCreated ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return h;
}

// ---------------------------------------------------------------------------
// Views

bool ViewProtection(DWORD dwDesiredAccess, bool bWritable, int* pProt) {
    if ((dwDesiredAccess & ~FILE_MAP_ALL_ACCESS) != 0 || dwDesiredAccess == kFileMapCopy) {
        SetLastError(ERROR_INVALID_PARAMETER);  // execute and copy-on-write views are not offered
        return false;
    }
    if ((dwDesiredAccess & FILE_MAP_WRITE) == 0) {
        *pProt = PROT_READ;
        return true;
    }
    if (!bWritable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    *pProt = PROT_READ | PROT_WRITE;
    return true;
}

// The length a view of cbRequested bytes at the offset gets, or 0 with the
// Win32 error set.
uint64_t ViewLength(const ObjectRecord& record, uint64_t offset, uint64_t cbRequested) {
    if (offset % kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return 0;
    }
    if (offset >= record.cbSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cbRequested > record.cbSize - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return cbRequested != 0 ? cbRequested : record.cbSize - offset;
}

size_t RoundUpToPages(uint64_t cb) {
    const uint64_t cbPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return static_cast<size_t>((cb + cbPage - 1) / cbPage * cbPage);
}

void* MapView(ObjectRecord* pRecord, DWORD dwDesiredAccess, uint64_t offset, uint64_t cbRequested) {
    int prot = 0;
    if (!ViewProtection(dwDesiredAccess, pRecord->bWritable, &prot)) return nullptr;
    const uint64_t cbView = ViewLength(*pRecord, offset, cbRequested);
    if (cbView == 0) return nullptr;
    if (cbView > SIZE_MAX / 2) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const size_t cbMapped = RoundUpToPages(cbView);
    void* p = mmap(nullptr, cbMapped, prot, MAP_SHARED, pRecord->fd, static_cast<off_t>(offset));
    if (p == MAP_FAILED) {
        SetLastErrorForAllocation(errno);
        return nullptr;
    }
    if (!AddView(static_cast<char*>(p), cbMapped, pRecord)) {
        munmap(p, cbMapped);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return p;
}

}  // namespace

void ReleaseObject(HandleKind kind, void* object) {
    ObjectRecord* pRecord = static_cast<ObjectRecord*>(object);
    if (pRecord == nullptr || pRecord->kind != kind) return;
    LeaveNameOf(pRecord);
    DropReference(pRecord);
    ReleaseUnpinned();
}

}  // namespace posix

namespace {
// A number field ("Tgid:\t123") of /proc/ID/status; 0 when there is none.
DWORD StatusField(pid_t id, const char* pszField) {
    char szPath[64];
    snprintf(szPath, sizeof szPath, "/proc/%d/status", static_cast<int>(id));
    FILE* pFile = fopen(szPath, "re");
    if (pFile == nullptr) return 0;
    char szLine[256];
    unsigned long value = 0;
    const size_t cchField = strlen(pszField);
    while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
        if (strncmp(szLine, pszField, cchField) == 0 && szLine[cchField] == ':') {
            value = strtoul(szLine + cchField + 1, nullptr, 10);
            break;
        }
    }
    fclose(pFile);
    return static_cast<DWORD>(value);
}

void ProgramName(DWORD pid, char* pszProgram, size_t cchProgram) {
    if (cchProgram == 0) return;
    pszProgram[0] = '\0';
    char szPath[64];
    snprintf(szPath, sizeof szPath, "/proc/%lu/comm", static_cast<unsigned long>(pid));
    FILE* pFile = fopen(szPath, "re");
    if (pFile == nullptr) return;
    if (fgets(pszProgram, static_cast<int>(cchProgram < INT_MAX ? cchProgram : INT_MAX), pFile) == nullptr)
        pszProgram[0] = '\0';
    fclose(pFile);
    pszProgram[strcspn(pszProgram, "\n")] = '\0';
}
}  // namespace

// The futex word of a robust mutex names its owner thread; its process is
// that thread's thread group.
bool DescribeMutexHolder(HANDLE hMutex, DWORD* pdwProcessId, char* pszProgram, size_t cchProgram) {
    posix::ObjectRecord* pRecord = posix::AcquireObject(hMutex, posix::HandleKind::Mutex);
    if (pRecord == nullptr) return false;
    const int word = __atomic_load_n(&pRecord->pMutex->mutex.__data.__lock, __ATOMIC_ACQUIRE);
    posix::DropReference(pRecord);
    const pid_t tid = static_cast<pid_t>(word & FUTEX_TID_MASK);
    const DWORD pid = tid != 0 ? StatusField(tid, "Tgid") : 0;
    if (pid == 0) return false;
    if (pdwProcessId != nullptr) *pdwProcessId = pid;
    if (pszProgram != nullptr) ProgramName(pid, pszProgram, cchProgram);
    return true;
}

// The directory of named objects is the one cause of failure that is ours
// to explain; the others have their system text.
bool DescribeNamedObjectProblem(char* pszReason, size_t cchReason) {
    const DWORD dwSaved = GetLastError();
    const int fd = posix::OpenObjectDirectory(pszReason, cchReason);
    SetLastError(dwSaved);
    if (fd < 0) return true;
    close(fd);
    return false;
}

}  // namespace platform
}  // namespace linkbay

using namespace linkbay::platform::posix;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCSTR lpName) {
    ReleaseUnpinned();
    MutexCreation creation;
    creation.bInitialOwner = bInitialOwner != FALSE;
    ObjectShape shape;
    shape.cbNew = sizeof(SharedMutex);
    shape.cbMinimum = sizeof(SharedMutex);
    shape.pfnInitialise = InitialiseMutexObject;
    shape.pContext = &creation;
    ObjectRecord record;
    ObjectFile file;
    if (!OpenObject(HandleKind::Mutex, lpName, shape, &record, &file)) {
        const DWORD dwError = GetLastError();
        if (creation.bOwned) pthread_mutex_unlock(&creation.pMapped->mutex);
        if (creation.pMapped != nullptr) munmap(creation.pMapped, sizeof(SharedMutex));
        SetLastError(dwError);
        return nullptr;
    }
    record.fd = file.fd;
    record.cbSize = file.cbSize;
    // A new mutex was mapped to initialise it; an existing one is mapped here.
    record.pMutex = creation.pMapped != nullptr ? creation.pMapped : MapMutex(file.fd);
    if (record.pMutex == nullptr) {
        DiscardUnpublished(record, false);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return Publish(record, file.bCreated, creation.bOwned);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    ObjectRecord* pRecord = AcquireObject(hMutex, HandleKind::Mutex);
    if (pRecord == nullptr) return FALSE;
    const int rc = pthread_mutex_unlock(&pRecord->pMutex->mutex);
    DropReference(pRecord);
    if (rc == 0) return TRUE;
    SetLastError(rc == EPERM ? ERROR_NOT_OWNER : ErrorFromErrno(rc));
    return FALSE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (hHandle == CurrentProcessPseudoHandle()) return WaitForOwnExit(dwMilliseconds);
    HandleEntry entry;
    ObjectRecord* pRecord = nullptr;
    if (!AcquireHandle(hHandle, HandleKind::Mutex, HandleKind::Process, &entry, &pRecord)) {
        // A section handle is valid but lacks the right to be waited on.
        if (FindHandle(hHandle, nullptr, HandleKind::Mapping)) SetLastError(ERROR_ACCESS_DENIED);
        return WAIT_FAILED;
    }
    if (entry.kind == HandleKind::Process) return WaitForProcessExit(entry, dwMilliseconds);
    if (pRecord == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const DWORD dwResult = WaitForMutex(pRecord->pMutex, dwMilliseconds);
    DropReference(pRecord);
    return dwResult;
}

HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                 DWORD flProtect, DWORD dwMaximumSizeHigh,
                                 DWORD dwMaximumSizeLow, LPCSTR lpName) {
    if (hFile != INVALID_HANDLE_VALUE) {
        // Only page-file backed sections are offered.
        if (FindHandle(hFile, nullptr, HandleKind::File)) SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const uint64_t cbSize = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    if ((flProtect != PAGE_READONLY && flProtect != PAGE_READWRITE) || cbSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (cbSize > static_cast<uint64_t>(INT64_MAX)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ReleaseUnpinned();
    ObjectShape shape;
    shape.cbNew = cbSize;
    ObjectRecord record;
    ObjectFile file;
    if (!OpenObject(HandleKind::Mapping, lpName, shape, &record, &file)) return nullptr;
    record.fd = file.fd;
    record.cbSize = file.cbSize;
    record.bWritable = flProtect == PAGE_READWRITE;
    return Publish(record, file.bCreated, false);
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                            DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                            SIZE_T dwNumberOfBytesToMap) {
    ObjectRecord* pRecord = AcquireObject(hFileMappingObject, HandleKind::Mapping);
    if (pRecord == nullptr) return nullptr;
    const uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    void* p = MapView(pRecord, dwDesiredAccess, offset, dwNumberOfBytesToMap);
    if (p == nullptr) DropReference(pRecord);  // on success the reference is the view's
    return p;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
    ViewRecord view;
    if (!TakeViewContaining(lpBaseAddress, &view)) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    munmap(view.pBase, view.cbMapped);
    DropReference(view.pObject);
    ReleaseUnpinned();
    return TRUE;
}
