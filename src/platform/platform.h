// The one header through which add-in code reaches the operating system.
// Code above this folder is written against the Win32 calls; on Windows that
// is <windows.h> itself, elsewhere the POSIX layer gives the same calls their
// Windows meaning.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "posix/win32_api.h"
#endif

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace linkbay {

// Seconds since 1970-01-01 UTC, from the system clock (so that a test can
// set the time through the platform's seam, as it does the tick count).
inline int64_t UnixSecondsNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t n = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<int64_t>(n / 10000000u) - kSecondsFrom1601To1970;
}

// Minutes that added to local standard time give UTC; 0 when unknown.
inline int32_t TimeZoneBiasMinutes() {
    TIME_ZONE_INFORMATION tzi;
    if (GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID) return 0;
    return static_cast<int32_t>(tzi.Bias);
}

// The local broken-down time of a calendar time; false for a time before
// 1970 or one the C library cannot convert (the same on every platform).
inline bool LocalCalendarTime(int64_t nUnixSeconds, std::tm& local) {
    if (nUnixSeconds < 0) return false;
    const std::time_t t = static_cast<std::time_t>(nUnixSeconds);
    if (static_cast<int64_t>(t) != nUnixSeconds) return false;
#if defined(_WIN32)
    return localtime_s(&local, &t) == 0;
#else
    return localtime_r(&t, &local) != nullptr;
#endif
}

namespace platform {

// The process holding a mutex now, for a message about a long wait: its id
// and its program's name. False when nobody holds it or the system does not
// tell (Windows offers no call for it).
#if defined(_WIN32)
inline bool DescribeMutexHolder(HANDLE, DWORD*, char*, size_t) { return false; }
#else
bool DescribeMutexHolder(HANDLE hMutex, DWORD* pdwProcessId, char* pszProgram, size_t cchProgram);
#endif

// A number fixed for a process's life that a later process given the same
// id does not share (when it started). False when the process has ended or
// the system does not tell.
#if defined(_WIN32)
inline bool ProcessStartStamp(DWORD dwPid, uint64_t* pqwStamp) {
    const HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, dwPid);
    if (hProcess == nullptr) return false;
    // A handle kept somewhere keeps an ended process's times: it has ended all the same.
    FILETIME created, exited, kernel, user;
    const BOOL bTold = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT &&
                       GetProcessTimes(hProcess, &created, &exited, &kernel, &user);
    CloseHandle(hProcess);
    if (!bTold) return false;
    *pqwStamp = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}
#else
bool ProcessStartStamp(DWORD dwPid, uint64_t* pqwStamp);
#endif

// When named objects (the shared mutex and area) cannot be had because the
// private directory that holds them is missing or not ours alone: true, and
// why. False on Windows, where the system keeps the names.
#if defined(_WIN32)
inline bool DescribeNamedObjectProblem(char*, size_t) { return false; }
#else
bool DescribeNamedObjectProblem(char* pszReason, size_t cchReason);
#endif

// A profile file that exists but was not read: its full path, its size, the
// largest size read, and why (a Win32 error code: ERROR_FILE_TOO_LARGE, or
// the system's reason it could not be opened).
constexpr size_t kProfilePathSize = 512;
struct UnreadProfile {
    char szPath[kProfilePathSize];
    uint64_t cbSize;
    uint64_t cbLimit;
    DWORD dwError;
};

// TakeUnreadProfile tells each version of such a file once: false when the
// file was read, is missing, or was told already. Windows reads its own
// profile files, with no such limit: always false there.
// ProfilePath gives the full path the profile calls use for a file name (a
// bare name lives in the Windows directory); false when it does not fit.
#if defined(_WIN32)
inline bool TakeUnreadProfile(const char*, UnreadProfile*) { return false; }
inline bool ProfilePath(const char* pszFileName, char* pszPath, size_t cchPath) {
    if (strpbrk(pszFileName, "\\/:") != nullptr)
        return snprintf(pszPath, cchPath, "%s", pszFileName) < static_cast<int>(cchPath);
    char szDir[MAX_PATH];
    const UINT cchDir = GetWindowsDirectoryA(szDir, sizeof szDir);
    if (cchDir == 0 || cchDir >= sizeof szDir) return false;
    return snprintf(pszPath, cchPath, "%s\\%s", szDir, pszFileName) < static_cast<int>(cchPath);
}
#else
bool TakeUnreadProfile(const char* pszFileName, UnreadProfile* pUnread);
bool ProfilePath(const char* pszFileName, char* pszPath, size_t cchPath);
#endif

}  // namespace platform
}  // namespace linkbay
