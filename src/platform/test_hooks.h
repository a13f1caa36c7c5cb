// Seams through which tests observe and steer the platform without sleeping
// or scraping stderr. Production code never calls these.
#pragma once

#include <cstdint>

#include "platform.h"

namespace linkbay {
namespace platform {

// Replaces the clock behind GetTickCount; nullptr restores the real one.
typedef DWORD (*TickSource)(void* pContext);
void SetTickSource(TickSource pfnSource, void* pContext);

// Replaces the wall clock behind GetSystemTimeAsFileTime with seconds since
// 1970 UTC; nullptr restores the real one.
typedef int64_t (*WallClockSource)(void* pContext);
void SetWallClockSource(WallClockSource pfnSource, void* pContext);

// Receives every OutputDebugStringA text instead of the configured sink;
// nullptr restores the sink.
typedef void (*DebugCapture)(const char* pszText, void* pContext);
void SetDebugCapture(DebugCapture pfnCapture, void* pContext);

// How DuplicateHandle takes a descriptor from another process: Automatic
// tries pidfd_getfd and falls back to reopening /proc/<pid>/fd/<n>; Reopen
// goes straight to the fallback (the path unprivileged users take).
enum class DuplicateMethod { Automatic, Reopen };
void SetDuplicateMethod(DuplicateMethod method);

// A serial line kept in memory, for fuzzers and tests that need no device:
// while one is set, CreateFileA of any COM port opens it. What the driver
// writes goes to pfnHear; reads take what pfnSay hands out, and a read that
// finds nothing ends at once, as if its time-out had passed, so nothing ever
// waits. The line settings are taken and kept, not applied. nullptr: devices.
struct MemoryLine {
    void (*pfnHear)(void* pContext, const BYTE* pData, DWORD cbData);
    DWORD (*pfnSay)(void* pContext, BYTE* pBuffer, DWORD cbWanted);  // bytes given, 0 when none
    void* pContext;
};
void SetMemoryLine(const MemoryLine* pLine);

}  // namespace platform
}  // namespace linkbay
