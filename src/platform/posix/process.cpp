// Process handles and handle duplication across processes.
//
// A port handle's value encodes the owner's descriptor, so another process
// can name it. The duplicate is taken with pidfd_getfd where the kernel lets
// us (same open file description, lock included), else by reopening
// /proc/<pid>/fd/<n>, which reaches the same device without taking the
// exclusive lock. Either way a dead owner makes the duplication fail.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "../test_hooks.h"
#include "handles.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_getfd
#define SYS_pidfd_getfd 438
#endif

using namespace linkbay::platform::posix;

namespace linkbay {
namespace platform {
namespace {

std::atomic<DuplicateMethod> g_duplicateMethod{DuplicateMethod::Automatic};

}  // namespace

void SetDuplicateMethod(DuplicateMethod method) { g_duplicateMethod.store(method); }

// Field 22 of /proc/PID/stat, the start in clock ticks after boot, counted
// after the command name, which may hold anything up to its last ')'.
bool ProcessStartStamp(DWORD dwPid, uint64_t* pqwStamp) {
    char szPath[32];
    snprintf(szPath, sizeof szPath, "/proc/%lu/stat", static_cast<unsigned long>(dwPid));
    FILE* pFile = fopen(szPath, "re");
    if (pFile == nullptr) return false;
    char szStat[1024];
    const size_t cb = fread(szStat, 1, sizeof szStat - 1, pFile);
    fclose(pFile);
    szStat[cb] = '\0';
    const char* psz = strrchr(szStat, ')');
    if (psz == nullptr) return false;
    char chState = 0;
    unsigned long long qwStart = 0;
    // state, then 18 fields to skip, then the start time
    if (sscanf(psz + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu",
               &chState, &qwStart) != 2)
        return false;
    if (chState == 'Z' || chState == 'X') return false;  // ended, not yet reaped
    *pqwStamp = qwStart;
    return true;
}

}  // namespace platform
}  // namespace linkbay

namespace {

using linkbay::platform::DuplicateMethod;

bool Fail(DWORD dwError) {
    SetLastError(dwError);
    return false;
}

// A pidfd turns readable once its process has ended.
bool HasEnded(const HandleEntry& process) {
    if (process.fd < 0) return kill(static_cast<pid_t>(process.pid), 0) != 0 && errno == ESRCH;
    pollfd pfd{process.fd, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
}

int TakeDescriptorOf(int pidfd, int fdRemote) {
    return static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, fdRemote, 0));
}

int ReopenDescriptorOf(DWORD pid, int fdRemote) {
    char szPath[64];
    snprintf(szPath, sizeof szPath, "/proc/%u/fd/%d", pid, fdRemote);
    return open(szPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// A descriptor of this process for the remote process's descriptor, or -1
// with errno set.
int DescriptorFromProcess(const HandleEntry& process, int fdRemote) {
    const DuplicateMethod method = linkbay::platform::g_duplicateMethod.load();
    if (method != DuplicateMethod::Reopen && process.fd >= 0) {
        const int fd = TakeDescriptorOf(process.fd, fdRemote);
        if (fd >= 0 || errno == ESRCH || errno == EBADF) return fd;
    }
    // pidfd_getfd is refused to unprivileged callers under ptrace restrictions.
    // The pidfd tells whether the process has ended, so that a recycled
    // process id never hands us a stranger's descriptor.
    if (HasEnded(process)) {
        errno = ESRCH;
        return -1;
    }
    const int fd = ReopenDescriptorOf(process.pid, fdRemote);
    if (fd >= 0 && HasEnded(process)) {
        close(fd);
        errno = ESRCH;
        return -1;
    }
    return fd;
}

enum class ProcessRef { Invalid, Current, Other };

ProcessRef ResolveProcess(HANDLE hProcess, HandleEntry* pEntry) {
    if (hProcess == CurrentProcessPseudoHandle()) return ProcessRef::Current;
    if (!FindHandle(hProcess, pEntry, HandleKind::Process)) return ProcessRef::Invalid;
    return pEntry->pid == static_cast<DWORD>(getpid()) ? ProcessRef::Current : ProcessRef::Other;
}

HANDLE AddDescriptor(int fd, const HandleEntry& source) {
    HandleEntry entry = source;
    entry.fd = fd;
    entry.tty = isatty(fd) != 0;
    entry.kind = entry.tty || source.kind == HandleKind::Port ? HandleKind::Port : HandleKind::File;
    const HANDLE h = AddHandle(entry);
    if (h == nullptr) close(fd);
    return h;
}

bool DuplicateLocal(HANDLE hSource, LPHANDLE lpTargetHandle) {
    HandleEntry entry;
    if (!FindHandle(hSource, &entry, HandleKind::Port, HandleKind::File) &&
        !FindHandle(hSource, &entry, HandleKind::Process))
        return false;
    const int fd = entry.fd >= 0 ? fcntl(entry.fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (entry.fd >= 0 && fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    HandleEntry copy = entry;
    copy.fd = fd;
    const HANDLE h = entry.kind == HandleKind::Process ? AddHandle(copy) : AddDescriptor(fd, copy);
    if (h == nullptr) {
        if (entry.kind == HandleKind::Process && fd >= 0) close(fd);
        return false;
    }
    *lpTargetHandle = h;
    return true;
}

bool DuplicateRemote(const HandleEntry& process, HANDLE hSource, LPHANDLE lpTargetHandle) {
    const int fdRemote = DecodeFdHandle(hSource);
    if (fdRemote < 0) return Fail(ERROR_INVALID_HANDLE);
    const int fd = DescriptorFromProcess(process, fdRemote);
    if (fd < 0) {
        // The owner has gone, or has no such handle: both leave nothing to duplicate.
        return Fail(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    }
    HandleEntry entry;
    entry.kind = HandleKind::Port;
    const HANDLE h = AddDescriptor(fd, entry);
    if (h == nullptr) return false;
    *lpTargetHandle = h;
    return true;
}

}  // namespace

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

HANDLE WINAPI GetCurrentProcess(void) { return CurrentProcessPseudoHandle(); }

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    if (dwProcessId == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HandleEntry entry;
    entry.kind = HandleKind::Process;
    entry.pid = dwProcessId;
    entry.fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(dwProcessId), 0));
    if (entry.fd < 0) {
        // Without pidfds (old kernels) the process is named by its id alone.
        if (errno != ENOSYS || (kill(static_cast<pid_t>(dwProcessId), 0) != 0 && errno == ESRCH)) {
            SetLastError(ERROR_INVALID_PARAMETER);  // what Windows reports for no such process
            return nullptr;
        }
        entry.fd = -1;
    }
    const HANDLE h = AddHandle(entry);
    if (h == nullptr && entry.fd >= 0) close(entry.fd);
    return h;
}

namespace {
BOOL DuplicateInto(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                   LPHANDLE lpTargetHandle, DWORD dwOptions) {
    HandleEntry target;
    switch (ResolveProcess(hTargetProcessHandle, &target)) {
    case ProcessRef::Invalid: return FALSE;
    case ProcessRef::Other: return Fail(ERROR_NOT_SUPPORTED);  // handles are only pulled in
    case ProcessRef::Current: break;
    }
    HandleEntry source;
    const ProcessRef sourceRef = ResolveProcess(hSourceProcessHandle, &source);
    if (sourceRef == ProcessRef::Invalid) return FALSE;
    if (sourceRef == ProcessRef::Current) {
        if (!DuplicateLocal(hSourceHandle, lpTargetHandle)) return FALSE;
        if ((dwOptions & DUPLICATE_CLOSE_SOURCE) != 0) CloseHandle(hSourceHandle);
        return TRUE;
    }
    if ((dwOptions & DUPLICATE_CLOSE_SOURCE) != 0) return Fail(ERROR_NOT_SUPPORTED);
    return DuplicateRemote(source, hSourceHandle, lpTargetHandle) ? TRUE : FALSE;
}
}  // namespace

BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                            HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                            DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
    // Without a place for it, Win32 still duplicates and keeps the handle
    // unseen until the process ends; nothing could use it, so it is closed.
    HANDLE hUnseen = nullptr;
    const bool bKeep = lpTargetHandle != nullptr;
    if (!bKeep) lpTargetHandle = &hUnseen;
    *lpTargetHandle = nullptr;
    const BOOL bDone = DuplicateInto(hSourceProcessHandle, hSourceHandle, hTargetProcessHandle, lpTargetHandle, dwOptions);
    if (bDone && !bKeep) CloseHandle(hUnseen);
    return bDone;
}

