// Diagnostics, error texts, time and text helpers of the POSIX layer.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../test_hooks.h"
#include "handles.h"

namespace linkbay {
namespace platform {
namespace {

std::atomic<TickSource> g_pfnTickSource{nullptr};
std::atomic<void*> g_pTickContext{nullptr};
std::atomic<WallClockSource> g_pfnWallClock{nullptr};
std::atomic<void*> g_pWallClockContext{nullptr};

constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
constexpr uint64_t kFileTimePerSecond = 10000000ull;
std::atomic<DebugCapture> g_pfnDebugCapture{nullptr};
std::atomic<void*> g_pDebugContext{nullptr};

struct MessageText {
    DWORD dwCode;
    const char* pszText;
};

// The system texts of the codes this layer reports.
constexpr MessageText kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_BAD_COMMAND, "The device does not recognize the command."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_MAPPED_ALIGNMENT, "The base address or the file offset specified does not have the proper alignment."},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
};

const char* SystemText(DWORD dwCode, char* pszScratch, size_t cbScratch) {
    for (const MessageText& message : kMessages) {
        if (message.dwCode == dwCode) return message.pszText;
    }
    if ((dwCode & posix::kErrnoErrorBit) != 0 && (dwCode & ~posix::kErrnoErrorBit) < 4096) {
        const int err = static_cast<int>(dwCode & ~posix::kErrnoErrorBit);
        snprintf(pszScratch, cbScratch, "%s.", strerror(err));
        return pszScratch;
    }
    return nullptr;
}

// Once a process: the messages have nowhere else to go but standard error.
void NoteRefusedDebugOutput(const char* pszTarget, int err) {
    static std::atomic<bool> s_bNoted{false};
    if (s_bNoted.exchange(true)) return;
    const char* pszWhy = err == ELOOP ? "it is a symbolic link"
                         : err != 0   ? strerror(err)
                                      : "it is not a file of this user with one name (another user's file, "
                                        "a second name of a file, or not a regular file)";
    char szNote[768];
    snprintf(szNote, sizeof szNote, "linkbay: debug messages are not written to LINKBAY_DEBUG_OUTPUT=%.400s: %s\n",
             pszTarget, pszWhy);
    (void)!write(STDERR_FILENO, szNote, strlen(szNote));
}

void WriteToSink(const char* pszText) {
    const char* pszTarget = getenv("LINKBAY_DEBUG_OUTPUT");
    if (pszTarget == nullptr || *pszTarget == '\0') return;
    const size_t cb = strlen(pszText);
    if (strcmp(pszTarget, "stderr") == 0) {
        (void)!write(STDERR_FILENO, pszText, cb);
        return;
    }
    // A link planted at the path, or a second name of someone else's file,
    // would carry the messages into that file.
    const int fd = open(pszTarget, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    struct stat st {};
    const bool bOpened = fd >= 0 && fstat(fd, &st) == 0;
    if (bOpened && (S_ISCHR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1))) {
        (void)!write(fd, pszText, cb);  // one write per message keeps lines whole between processes
    } else {
        NoteRefusedDebugOutput(pszTarget, fd < 0 ? errno : 0);
    }
    if (fd >= 0) close(fd);
}

DWORD ClockTicks() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

// Upper case of one byte in the ANSI code page (Windows-1252).
BYTE UpperAnsi(BYTE c) {
    if (c >= 'a' && c <= 'z') return static_cast<BYTE>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<BYTE>(c - 0x20);
    switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
    }
}

void WidenAscii(const char* psz, WCHAR* pwsz, size_t cch) {
    size_t i = 0;
    for (; psz != nullptr && psz[i] != '\0' && i + 1 < cch; ++i)
        pwsz[i] = static_cast<BYTE>(psz[i]);
    pwsz[i] = 0;
}

}  // namespace

void SetTickSource(TickSource pfnSource, void* pContext) {
    g_pTickContext.store(pContext);
    g_pfnTickSource.store(pfnSource);
}

void SetWallClockSource(WallClockSource pfnSource, void* pContext) {
    g_pWallClockContext.store(pContext);
    g_pfnWallClock.store(pfnSource);
}

void SetDebugCapture(DebugCapture pfnCapture, void* pContext) {
    g_pDebugContext.store(pContext);
    g_pfnDebugCapture.store(pfnCapture);
}

}  // namespace platform
}  // namespace linkbay

using namespace linkbay::platform;

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    const DebugCapture pfnCapture = g_pfnDebugCapture.load();
    if (pfnCapture != nullptr) {
        pfnCapture(lpOutputString, g_pDebugContext.load());
        return;
    }
    WriteToSink(lpOutputString);
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, void* Arguments) {
    (void)lpSource;
    (void)dwLanguageId;
    (void)Arguments;
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
        (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 || lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char szScratch[160];
    const char* pszText = SystemText(dwMessageId, szScratch, sizeof szScratch);
    if (pszText == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    // The system texts end in a line break, which the maximum-width mode
    // turns into a blank.
    const bool bOneLine = (dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const char* pszEnd = bOneLine ? " " : "\r\n";
    const size_t cch = strlen(pszText) + strlen(pszEnd);
    if (cch + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    snprintf(lpBuffer, nSize, "%s%s", pszText, pszEnd);
    return static_cast<DWORD>(cch);
}

DWORD WINAPI GetTickCount(void) {
    const TickSource pfnSource = g_pfnTickSource.load();
    return pfnSource != nullptr ? pfnSource(g_pTickContext.load()) : ClockTicks();
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    uint64_t n = kFileTimeUnixEpoch;
    const WallClockSource pfnSource = g_pfnWallClock.load();
    if (pfnSource != nullptr) {
        n += static_cast<uint64_t>(pfnSource(g_pWallClockContext.load())) * kFileTimePerSecond;
    } else {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        n += static_cast<uint64_t>(now.tv_sec) * kFileTimePerSecond + static_cast<uint64_t>(now.tv_nsec) / 100u;
    }
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(n);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(n >> 32);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    timespec request{static_cast<time_t>(dwMilliseconds / 1000),
                     static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

INT WINAPI MulDiv(INT nNumber, INT nNumerator, INT nDenominator) {
    if (nDenominator == 0) return -1;
    int64_t product = static_cast<int64_t>(nNumber) * nNumerator;
    int64_t divisor = nDenominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    // Rounds half away from zero; results beyond +-(2^31 - 1) fail.
    const int64_t result =
        product >= 0 ? (product + divisor / 2) / divisor : (product - divisor / 2) / divisor;
    if (result > 2147483647LL || result < -2147483647LL) return -1;
    return static_cast<INT>(result);
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
    if (lpTimeZoneInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    tzset();
    TIME_ZONE_INFORMATION& tzi = *lpTimeZoneInformation;
    memset(&tzi, 0, sizeof tzi);
    tzi.Bias = static_cast<LONG>(timezone / 60);  // UTC = local standard time + Bias
    tzi.DaylightBias = daylight ? -60 : 0;
    WidenAscii(tzname[0], tzi.StandardName, 32);
    WidenAscii(tzname[1], tzi.DaylightName, 32);
    if (!daylight) return TIME_ZONE_ID_UNKNOWN;
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) return 0;
    for (DWORD i = 0; i < cchLength; ++i)
        lpsz[i] = static_cast<char>(UpperAnsi(static_cast<BYTE>(lpsz[i])));
    return cchLength;
}
