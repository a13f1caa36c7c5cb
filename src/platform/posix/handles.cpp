#include "handles.h"

#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace linkbay {
namespace platform {
namespace posix {
namespace {

// Windows handle values are multiples of 4; descriptor-backed handles use
// the low range, table objects the range above kObjectBase.
constexpr uintptr_t kObjectBase = 0x40000000u;
constexpr size_t kMaxHandles = 512;
// Descriptors below this are found through slotOfFd in one step, the rest
// by a scan; a process seldom has more open.
constexpr int kIndexedFds = 1024;

struct Table {
    ShortLock lock;
    HandleEntry entries[kMaxHandles];
    int16_t slotOfFd[kIndexedFds] = {};  // entry index + 1 of a descriptor-backed entry, 0 for none
};

Table& TheTable() {
    static Table table;
    return table;
}

thread_local DWORD t_dwLastError = ERROR_SUCCESS;

bool IsFdKind(HandleKind kind) { return kind == HandleKind::Port || kind == HandleKind::File; }

// Index of the live entry behind h, or -1. Caller holds the lock.
int IndexOf(const Table& table, HANDLE h) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(h);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || (value & 3u) != 0) return -1;
    if (value >= kObjectBase) {
        const uintptr_t index = (value - kObjectBase) >> 2;
        if (index >= kMaxHandles) return -1;
        const HandleEntry& entry = table.entries[index];
        return entry.kind != HandleKind::None && !IsFdKind(entry.kind) ? static_cast<int>(index)
                                                                       : -1;
    }
    const int fd = DecodeFdHandle(h);
    if (fd >= 0 && fd < kIndexedFds) return table.slotOfFd[fd] - 1;
    for (size_t i = 0; i < kMaxHandles; ++i) {
        if (IsFdKind(table.entries[i].kind) && table.entries[i].fd == fd) return static_cast<int>(i);
    }
    return -1;
}

// Keeps slotOfFd in step with entry index; caller holds the lock.
void IndexFd(Table& table, size_t index, bool bLive) {
    const HandleEntry& entry = table.entries[index];
    if (!IsFdKind(entry.kind) || entry.fd < 0 || entry.fd >= kIndexedFds) return;
    table.slotOfFd[entry.fd] = bLive ? static_cast<int16_t>(index + 1) : 0;
}

bool KindAccepted(HandleKind kind, HandleKind kindA, HandleKind kindB) {
    if (kindA == HandleKind::None && kindB == HandleKind::None) return true;
    return kind == kindA || kind == kindB;
}

}  // namespace

HANDLE EncodeFdHandle(int fd) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(fd + 1) << 2); }

int DecodeFdHandle(HANDLE h) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(h);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || (value & 3u) != 0 || value >= kObjectBase)
        return -1;
    return static_cast<int>(value >> 2) - 1;
}

HANDLE AddHandle(const HandleEntry& entry) {
    Table& table = TheTable();
    std::lock_guard<ShortLock> guard(table.lock);
    for (size_t i = 0; i < kMaxHandles; ++i) {
        if (table.entries[i].kind != HandleKind::None) continue;
        table.entries[i] = entry;
        IndexFd(table, i, true);
        if (IsFdKind(entry.kind)) return EncodeFdHandle(entry.fd);
        return reinterpret_cast<HANDLE>(kObjectBase + (i << 2));
    }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
}

bool FindHandle(HANDLE h, HandleEntry* pEntry, HandleKind kindA, HandleKind kindB) {
    Table& table = TheTable();
    std::lock_guard<ShortLock> guard(table.lock);
    const int index = IndexOf(table, h);
    if (index < 0 || !KindAccepted(table.entries[index].kind, kindA, kindB)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (pEntry) *pEntry = table.entries[index];
    return true;
}

bool SetHandleTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
    Table& table = TheTable();
    std::lock_guard<ShortLock> guard(table.lock);
    const int index = IndexOf(table, h);
    if (index < 0 || table.entries[index].kind != HandleKind::Port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    table.entries[index].timeouts = timeouts;
    return true;
}

bool TakeHandle(HANDLE h, HandleEntry* pEntry) {
    Table& table = TheTable();
    std::lock_guard<ShortLock> guard(table.lock);
    const int index = IndexOf(table, h);
    if (index < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *pEntry = table.entries[index];
    IndexFd(table, static_cast<size_t>(index), false);
    table.entries[index] = HandleEntry{};
    return true;
}

HANDLE CurrentProcessPseudoHandle() { return INVALID_HANDLE_VALUE; }

DWORD ErrorFromErrno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case ENOTTY:
    case ENOSYS: return ERROR_INVALID_FUNCTION;
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case ESRCH: return ERROR_INVALID_PARAMETER;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EIO:
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    default: return kErrnoErrorBit | static_cast<DWORD>(err);
    }
}

void SetLastErrorFromErrno(int err) { SetLastError(ErrorFromErrno(err)); }

}  // namespace posix
}  // namespace platform
}  // namespace linkbay

using namespace linkbay::platform::posix;

DWORD WINAPI GetLastError(void) { return t_dwLastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_dwLastError = dwErrCode; }

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (hObject == CurrentProcessPseudoHandle()) return TRUE;
    HandleEntry entry;
    if (!TakeHandle(hObject, &entry)) return FALSE;
    switch (entry.kind) {
    case HandleKind::Port:
    case HandleKind::File:
    case HandleKind::Process:
        if (entry.fd >= 0) close(entry.fd);
        break;
    case HandleKind::Mutex:
    case HandleKind::Mapping: ReleaseObject(entry.kind, entry.object); break;
    case HandleKind::None: break;
    }
    return TRUE;
}
