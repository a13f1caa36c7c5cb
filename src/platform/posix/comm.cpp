// Files and serial ports: CreateFileA, ReadFile, WriteFile and the comm calls.
//
// A port is opened non-blocking in raw mode with VMIN = VTIME = 0, and every
// time-out of COMMTIMEOUTS is kept with poll() against the monotonic clock, so
// that reads end to the millisecond as on Windows rather than in 0.1 s steps.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "handles.h"
#include "platform/test_hooks.h"
#include "tty_settings.h"

using namespace linkbay::platform::posix;

namespace {

constexpr DWORD kValidPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The descriptor this thread last wrote to with no read from it since:
// only a hint for the order of calls in the next read, never for its result.
thread_local int t_fdAwaitingReply = -1;

uint64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

bool Fail(DWORD dwError) {
    SetLastError(dwError);
    return false;
}

bool FailErrno(int err) {
    SetLastErrorFromErrno(err);
    return false;
}

// "COM3" or "\\.\COM3" (any case) → 3; 0 when the name is no port name.
int PortNumber(const char* pszName) {
    if (strncmp(pszName, "\\\\.\\", 4) == 0) pszName += 4;
    if (strncasecmp(pszName, "COM", 3) != 0) return 0;
    const char* pszDigits = pszName + 3;
    if (*pszDigits < '1' || *pszDigits > '9') return 0;
    char* pszEnd = nullptr;
    const long n = strtol(pszDigits, &pszEnd, 10);
    return (*pszEnd == '\0' && n >= 1 && n <= 255) ? static_cast<int>(n) : 0;
}

// LINKBAY_COMn names the device of port n; without it the n-th serial line.
void PortDevicePath(int nPort, char* pszPath, size_t cbPath) {
    char szVariable[32];
    snprintf(szVariable, sizeof szVariable, "LINKBAY_COM%d", nPort);
    const char* pszDevice = getenv(szVariable);
    if (pszDevice != nullptr && *pszDevice != '\0')
        snprintf(pszPath, cbPath, "%s", pszDevice);
    else
        snprintf(pszPath, cbPath, "/dev/ttyS%d", nPort - 1);
}

int AccessFlags(DWORD dwDesiredAccess) {
    const bool bRead = (dwDesiredAccess & GENERIC_READ) != 0;
    const bool bWrite = (dwDesiredAccess & GENERIC_WRITE) != 0;
    if (bRead && bWrite) return O_RDWR;
    return bWrite ? O_WRONLY : O_RDONLY;
}

// ---- the line in memory ------------------------------------------------------

std::atomic<const linkbay::platform::MemoryLine*> g_pMemoryLine{nullptr};

// Its settings live here, as the kernel keeps a terminal's.
struct MemoryLineState {
    ShortLock lock;
    DCB dcb = [] {
        DCB initial{};
        initial.DCBlength = sizeof initial;
        initial.BaudRate = 9600;
        initial.fBinary = 1;
        initial.ByteSize = 8;
        initial.Parity = NOPARITY;
        initial.StopBits = ONESTOPBIT;
        return initial;
    }();
};

MemoryLineState& TheMemoryLineState() {
    static MemoryLineState s_state;
    return s_state;
}

// Named by a descriptor of its own, so its handle is told apart like any port's.
HANDLE OpenMemoryLine() {
    const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry;
    entry.kind = HandleKind::Port;
    entry.fd = fd;
    entry.tty = true;
    entry.memory = true;
    const HANDLE h = AddHandle(entry);
    if (h != nullptr) return h;
    close(fd);
    return INVALID_HANDLE_VALUE;
}

bool ReadMemoryLine(BYTE* pBuffer, DWORD cbWanted, DWORD* pcbRead, bool bFirstByteEnds) {
    const linkbay::platform::MemoryLine* pLine = g_pMemoryLine.load();
    DWORD cbDone = 0;
    while (pLine != nullptr && cbDone < cbWanted) {
        const DWORD cb = pLine->pfnSay(pLine->pContext, pBuffer + cbDone, cbWanted - cbDone);
        if (cb == 0) break;
        cbDone += cb < cbWanted - cbDone ? cb : cbWanted - cbDone;
        if (bFirstByteEnds) break;
    }
    *pcbRead = cbDone;
    return true;
}

bool WriteMemoryLine(const BYTE* pData, DWORD cbData, DWORD* pcbWritten) {
    const linkbay::platform::MemoryLine* pLine = g_pMemoryLine.load();
    if (pLine != nullptr) pLine->pfnHear(pLine->pContext, pData, cbData);
    *pcbWritten = cbData;
    return true;
}

void DrainMemoryLine() {
    BYTE ab[256];
    DWORD cb = 0;
    do ReadMemoryLine(ab, sizeof ab, &cb, false); while (cb == sizeof ab);
}

HANDLE OpenPort(int nPort, DWORD dwDesiredAccess) {
    if (g_pMemoryLine.load() != nullptr) return OpenMemoryLine();
    char szPath[PATH_MAX];
    PortDevicePath(nPort, szPath, sizeof szPath);
    const int fd = open(szPath, AccessFlags(dwDesiredAccess) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == EBUSY ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    // A port belongs to one opener at a time, as on Windows. Duplicates made
    // for other processes share this lock or do not take one.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        SetLastError(err == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry;
    entry.kind = HandleKind::Port;
    entry.fd = fd;
    entry.tty = isatty(fd) != 0;
    if (entry.tty) MakeTtyRaw(fd);
    const HANDLE h = AddHandle(entry);
    if (h == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

int CreationFlags(DWORD dwCreationDisposition) {
    switch (dwCreationDisposition) {
    case CREATE_NEW: return O_CREAT | O_EXCL;
    case CREATE_ALWAYS: return O_CREAT | O_TRUNC;
    case OPEN_EXISTING: return 0;
    case OPEN_ALWAYS: return O_CREAT;
    case TRUNCATE_EXISTING: return O_TRUNC;
    default: return -1;
    }
}

HANDLE OpenFile(const char* pszPath, DWORD dwDesiredAccess, DWORD dwCreationDisposition) {
    const int nCreation = CreationFlags(dwCreationDisposition);
    if (nCreation < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool bExisted = access(pszPath, F_OK) == 0;
    const int fd = open(pszPath, AccessFlags(dwDesiredAccess) | nCreation | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS
                     : errno == EISDIR ? ERROR_ACCESS_DENIED
                                       : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry;
    entry.kind = HandleKind::File;
    entry.fd = fd;
    const HANDLE h = AddHandle(entry);
    if (h == nullptr) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    const bool bReportsExisting = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(bReportsExisting && bExisted ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

// The comm calls accept port handles only; a file handle is a valid handle
// that cannot do comm I/O, as a disk file handle on Windows.
bool FindPort(HANDLE h, HandleEntry* pEntry) {
    if (!FindHandle(h, pEntry, HandleKind::Port, HandleKind::File)) return false;
    if (pEntry->kind != HandleKind::Port) return Fail(ERROR_INVALID_FUNCTION);
    return true;
}

// Whether the port is a terminal was settled when it was opened; a line that
// has gone since then fails in the call that reaches it.
bool FindTty(HANDLE h, HandleEntry* pEntry) {
    if (!FindPort(h, pEntry)) return false;
    if (!pEntry->tty) return Fail(ERROR_INVALID_FUNCTION);
    return true;
}

// How one ReadFile ends, from COMMTIMEOUTS and the byte count.
struct ReadPlan {
    bool bReturnBuffered = false;    // MAXDWORD/0/0: what is there, at once
    bool bReturnOnFirstByte = false; // MAXDWORD/MAXDWORD/C
    uint64_t totalMs = 0;            // 0: no total time-out
    uint64_t intervalMs = 0;         // 0: no interval time-out
};

ReadPlan PlanRead(const COMMTIMEOUTS& t, DWORD cbWanted) {
    ReadPlan plan;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        plan.bReturnBuffered = true;
        return plan;
    }
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
        plan.bReturnOnFirstByte = true;
        plan.totalMs = t.ReadTotalTimeoutConstant;
        return plan;
    }
    plan.totalMs = static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * cbWanted +
                   t.ReadTotalTimeoutConstant;
    plan.intervalMs = t.ReadIntervalTimeout;
    return plan;
}

// Milliseconds poll() may wait: -1 forever, 0 when a deadline has passed.
int PollWait(uint64_t now, uint64_t deadline) {
    if (deadline == 0) return -1;
    if (now >= deadline) return 0;
    const uint64_t left = deadline - now;
    return left > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
}

int EarlierWait(int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return a < b ? a : b;
}

bool DeviceGone(DWORD* pcbDone, DWORD cbDone) {
    *pcbDone = cbDone;
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
}

// The zero-byte read: a health check of the line, never a wait.
bool CheckPortAlive(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 0) < 0) return FailErrno(errno);
    if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    return true;
}

bool ReadPort(const HandleEntry& entry, BYTE* pBuffer, DWORD cbWanted, DWORD* pcbRead) {
    const ReadPlan plan = PlanRead(entry.timeouts, cbWanted);
    if (entry.memory) return ReadMemoryLine(pBuffer, cbWanted, pcbRead, plan.bReturnOnFirstByte);
    if (cbWanted == 0) return CheckPortAlive(entry.fd);
    const uint64_t start = NowMs();
    const uint64_t totalDeadline = plan.totalMs > 0 ? start + plan.totalMs : 0;
    uint64_t lastByte = 0;
    DWORD cbDone = 0;
    bool bHangUpReported = false;
    // Just after a write the answer is seldom there yet, and a read that
    // finds nothing is followed by the wait anyway: wait first. The read
    // below still runs, so whatever has arrived by the deadline is taken.
    if (entry.fd == t_fdAwaitingReply && !plan.bReturnBuffered) {
        pollfd pfd{entry.fd, POLLIN, 0};
        const int nWait = PollWait(NowMs(), totalDeadline);
        if (nWait != 0) poll(&pfd, 1, nWait);
    }
    t_fdAwaitingReply = -1;
    for (;;) {
        const ssize_t cb = read(entry.fd, pBuffer + cbDone, cbWanted - cbDone);
        if (cb > 0) {
            cbDone += static_cast<DWORD>(cb);
            lastByte = NowMs();
            *pcbRead = cbDone;
            if (cbDone == cbWanted || plan.bReturnOnFirstByte) return true;
            continue;
        }
        if (cb < 0 && errno == EINTR) continue;
        if (cb < 0 && errno == EIO) return DeviceGone(pcbRead, cbDone);
        // A device that is no terminal (a file, the null device) at its end
        // has nothing more to give: the read ends, as one of NUL does, however
        // long the time-outs, rather than spin on a line that is always ready.
        if (cb == 0 && !entry.tty) {
            *pcbRead = cbDone;
            return true;
        }
        if (cb < 0 && errno != EAGAIN) {
            *pcbRead = cbDone;
            return FailErrno(errno);
        }
        // With VMIN = VTIME = 0 a read of an idle line returns 0, as does one
        // of a line that has hung up. A waiting poll tells them apart by
        // itself; a read that ends now asks the line first.
        if (cb == 0 && bHangUpReported) return DeviceGone(pcbRead, cbDone);
        const uint64_t now = NowMs();
        const uint64_t intervalDeadline =
            (plan.intervalMs > 0 && cbDone > 0) ? lastByte + plan.intervalMs : 0;
        const int nWait = plan.bReturnBuffered
                              ? 0
                              : EarlierWait(PollWait(now, totalDeadline), PollWait(now, intervalDeadline));
        if (nWait == 0) {  // no wait, or a time-out: the read ends with what arrived
            if (cb == 0 && !CheckPortAlive(entry.fd)) return DeviceGone(pcbRead, cbDone);
            return true;
        }
        pollfd pfd{entry.fd, POLLIN, 0};
        const int nReady = poll(&pfd, 1, nWait);
        if (nReady < 0 && errno != EINTR) {
            *pcbRead = cbDone;
            return FailErrno(errno);
        }
        if (nReady > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
            // What is still buffered is read first; the next empty read ends it.
            if ((pfd.revents & POLLIN) == 0) return DeviceGone(pcbRead, cbDone);
            bHangUpReported = true;
        }
    }
}

bool WritePort(const HandleEntry& entry, const BYTE* pData, DWORD cbWanted, DWORD* pcbWritten) {
    if (entry.memory) return WriteMemoryLine(pData, cbWanted, pcbWritten);
    const uint64_t totalMs =
        static_cast<uint64_t>(entry.timeouts.WriteTotalTimeoutMultiplier) * cbWanted +
        entry.timeouts.WriteTotalTimeoutConstant;
    const uint64_t deadline = totalMs > 0 ? NowMs() + totalMs : 0;
    DWORD cbDone = 0;
    while (cbDone < cbWanted) {
        const ssize_t cb = write(entry.fd, pData + cbDone, cbWanted - cbDone);
        if (cb > 0) {
            cbDone += static_cast<DWORD>(cb);
            *pcbWritten = cbDone;
            t_fdAwaitingReply = entry.fd;
            continue;
        }
        if (cb < 0 && errno == EINTR) continue;
        if (cb < 0 && errno != EAGAIN) {
            if (errno == EIO) return DeviceGone(pcbWritten, cbDone);
            return FailErrno(errno);
        }
        const int nWait = PollWait(NowMs(), deadline);
        if (nWait == 0) return true;  // the write time-out ends it, short but successful
        pollfd pfd{entry.fd, POLLOUT, 0};
        if (poll(&pfd, 1, nWait) < 0 && errno != EINTR) return FailErrno(errno);
        if ((pfd.revents & (POLLHUP | POLLERR)) != 0 && (pfd.revents & POLLOUT) == 0)
            return DeviceGone(pcbWritten, cbDone);
    }
    return true;
}

bool ReadWholeFile(int fd, BYTE* pBuffer, DWORD cbWanted, DWORD* pcbRead) {
    DWORD cbDone = 0;
    while (cbDone < cbWanted) {
        const ssize_t cb = read(fd, pBuffer + cbDone, cbWanted - cbDone);
        if (cb == 0) break;
        if (cb < 0) {
            if (errno == EINTR) continue;
            *pcbRead = cbDone;
            return FailErrno(errno);
        }
        cbDone += static_cast<DWORD>(cb);
    }
    *pcbRead = cbDone;
    return true;
}

bool WriteWholeFile(int fd, const BYTE* pData, DWORD cbWanted, DWORD* pcbWritten) {
    DWORD cbDone = 0;
    while (cbDone < cbWanted) {
        const ssize_t cb = write(fd, pData + cbDone, cbWanted - cbDone);
        if (cb < 0) {
            if (errno == EINTR) continue;
            *pcbWritten = cbDone;
            return FailErrno(errno);
        }
        cbDone += static_cast<DWORD>(cb);
    }
    *pcbWritten = cbDone;
    return true;
}

// Checks common to ReadFile and WriteFile: synchronous calls with a count out.
bool CheckTransferArguments(const void* pBuffer, DWORD cb, DWORD* pcbDone, LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped != nullptr || pcbDone == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *pcbDone = 0;
    if (pBuffer == nullptr && cb > 0) return Fail(ERROR_NOACCESS);
    return true;
}

TtyParity ParityFromDcb(BYTE parity) {
    switch (parity) {
    case ODDPARITY: return TtyParity::Odd;
    case EVENPARITY: return TtyParity::Even;
    case MARKPARITY: return TtyParity::Mark;
    case SPACEPARITY: return TtyParity::Space;
    default: return TtyParity::None;
    }
}

BYTE DcbParity(TtyParity parity) {
    switch (parity) {
    case TtyParity::Odd: return ODDPARITY;
    case TtyParity::Even: return EVENPARITY;
    case TtyParity::Mark: return MARKPARITY;
    case TtyParity::Space: return SPACEPARITY;
    case TtyParity::None: break;
    }
    return NOPARITY;
}

bool DcbIsValid(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
    if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return false;
    // One and a half stop bits exist only with 5 data bits, two only without.
    if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) return false;
    if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) return false;
    return true;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);  // Win32 takes no name as an empty one
        return INVALID_HANDLE_VALUE;
    }
    if ((dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);  // every caller here does synchronous I/O
        return INVALID_HANDLE_VALUE;
    }
    const int nPort = PortNumber(lpFileName);
    if (nPort > 0) return OpenPort(nPort, dwDesiredAccess);
    return OpenFile(lpFileName, dwDesiredAccess, dwCreationDisposition);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    HandleEntry entry;
    if (!FindHandle(hFile, &entry, HandleKind::Port, HandleKind::File)) return FALSE;
    if (!CheckTransferArguments(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped))
        return FALSE;
    BYTE* pBuffer = static_cast<BYTE*>(lpBuffer);
    if (entry.kind == HandleKind::Port)
        return ReadPort(entry, pBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
    return ReadWholeFile(entry.fd, pBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    HandleEntry entry;
    if (!FindHandle(hFile, &entry, HandleKind::Port, HandleKind::File)) return FALSE;
    if (!CheckTransferArguments(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped))
        return FALSE;
    const BYTE* pData = static_cast<const BYTE*>(lpBuffer);
    if (entry.kind == HandleKind::Port)
        return WritePort(entry, pData, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
    return WriteWholeFile(entry.fd, pData, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    HandleEntry entry;
    if (!FindHandle(hFile, &entry, HandleKind::Port, HandleKind::File)) return FALSE;
    if (entry.memory) return TRUE;
    if (!entry.tty) return fsync(entry.fd) == 0 || errno == EINVAL ? TRUE : FailErrno(errno);
    return tcdrain(entry.fd) == 0 ? TRUE : FailErrno(errno);
}

BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
    // The kernel sizes its own queues; the call only has to find a port.
    HandleEntry entry;
    return FindTty(hFile, &entry) ? TRUE : FALSE;
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    HandleEntry entry;
    if (!FindPort(hFile, &entry)) return FALSE;
    if (lpCommTimeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *lpCommTimeouts = entry.timeouts;
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    HandleEntry entry;
    if (!FindTty(hFile, &entry)) return FALSE;
    if (lpCommTimeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const COMMTIMEOUTS& t = *lpCommTimeouts;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant == MAXDWORD)
        return Fail(ERROR_INVALID_PARAMETER);
    return SetHandleTimeouts(hFile, t) ? TRUE : FALSE;
}

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) {
    HandleEntry entry;
    if (!FindTty(hFile, &entry)) return FALSE;
    if (lpDCB == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (entry.memory) {
        MemoryLineState& line = TheMemoryLineState();
        std::lock_guard<ShortLock> guard(line.lock);
        *lpDCB = line.dcb;
        lpDCB->DCBlength = sizeof *lpDCB;
        return TRUE;
    }
    TtySettings s;
    if (const int err = ReadTtySettings(entry.fd, &s)) return FailErrno(err);
    DCB& dcb = *lpDCB;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.baud;
    dcb.fBinary = 1;
    dcb.fParity = s.parityCheck ? 1 : 0;
    dcb.fOutxCtsFlow = s.rtsCtsFlow ? 1 : 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = s.rtsCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = s.xonOutput ? 1 : 0;
    dcb.fInX = s.xonInput ? 1 : 0;
    dcb.ByteSize = s.dataBits;
    dcb.Parity = DcbParity(s.parity);
    dcb.StopBits = s.twoStopBits ? (s.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    dcb.XonChar = s.xonChar;
    dcb.XoffChar = s.xoffChar;
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
    HandleEntry entry;
    if (!FindTty(hFile, &entry)) return FALSE;
    if (lpDCB == nullptr || !DcbIsValid(*lpDCB)) return Fail(ERROR_INVALID_PARAMETER);
    if (entry.memory) {
        MemoryLineState& line = TheMemoryLineState();
        std::lock_guard<ShortLock> guard(line.lock);
        line.dcb = *lpDCB;
        return TRUE;
    }
    const DCB& dcb = *lpDCB;
    TtySettings s;
    s.baud = dcb.BaudRate;
    s.dataBits = dcb.ByteSize;
    s.parity = ParityFromDcb(dcb.Parity);
    s.twoStopBits = dcb.StopBits != ONESTOPBIT;
    s.parityCheck = dcb.fParity != 0 && dcb.Parity != NOPARITY;
    s.rtsCtsFlow = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    s.xonOutput = dcb.fOutX != 0;
    s.xonInput = dcb.fInX != 0;
    s.xonChar = dcb.XonChar;
    s.xoffChar = dcb.XoffChar;
    if (s.xonChar == 0 && s.xoffChar == 0) {
        s.xonChar = 0x11;
        s.xoffChar = 0x13;
    }
    if (const int err = WriteTtySettings(entry.fd, s)) return FailErrno(err);
    return TRUE;
}

// Always asks the line, as the driver is always asked on Windows: a line
// that has gone fails here even when no status is wanted.
BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
    HandleEntry entry;
    if (!FindTty(hFile, &entry)) return FALSE;
    if (entry.memory) {  // what it holds is known only by reading it
        if (lpErrors != nullptr) *lpErrors = 0;
        if (lpStat != nullptr) memset(lpStat, 0, sizeof *lpStat);
        return TRUE;
    }
    int cbIn = 0;
    if (ioctl(entry.fd, FIONREAD, &cbIn) != 0) return FailErrno(errno);
    if (lpErrors != nullptr) *lpErrors = 0;  // framing and overrun errors are not reported here
    if (lpStat != nullptr) {
        memset(lpStat, 0, sizeof *lpStat);
        int cbOut = 0;
        if (cbIn > 0) lpStat->cbInQue = static_cast<DWORD>(cbIn);
        if (ioctl(entry.fd, TIOCOUTQ, &cbOut) == 0 && cbOut > 0) lpStat->cbOutQue = static_cast<DWORD>(cbOut);
    }
    return TRUE;
}

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
    HandleEntry entry;
    if (!FindTty(hFile, &entry)) return FALSE;
    if ((dwFlags & ~kValidPurgeFlags) != 0) return Fail(ERROR_INVALID_PARAMETER);
    // Nothing is ever pending asynchronously, so the abort flags have nothing to abort.
    if (entry.memory) {
        if ((dwFlags & PURGE_RXCLEAR) != 0) DrainMemoryLine();
        return TRUE;
    }
    if ((dwFlags & PURGE_RXCLEAR) != 0 && tcflush(entry.fd, TCIFLUSH) != 0) return FailErrno(errno);
    if ((dwFlags & PURGE_TXCLEAR) != 0 && tcflush(entry.fd, TCOFLUSH) != 0) return FailErrno(errno);
    return TRUE;
}

void linkbay::platform::SetMemoryLine(const MemoryLine* pLine) { g_pMemoryLine.store(pLine); }
