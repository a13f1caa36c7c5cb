// State of the add-in: the area shared by every process that loads the
// library, and the per-process globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "linkbay/addin.h"
#include "platform/platform.h"

namespace linkbay {

class RS232CI;

// A process, named so that a later one given the same id is told apart.
struct ProcessMark {
    uint32_t dwPid;    // 0: a free slot
    uint64_t qwStart;  // when it started (ProcessStartStamp); 0 when unknown
};

// A process that holds an MCB's port, and the port's handle value in that
// process: what another process duplicates once the owner has gone.
struct PortHolder {
    ProcessMark process;
    void* hPort;
};

// Slots of the side tables. A holder or an opener beyond them still works;
// it only goes unrecorded (see process_marks.h).
constexpr int kHoldersPerMcb = 16;
constexpr int kOpenerSlots = 64;

struct SharedArea {
    // The part the host reads, through AddinBase's pointers: its layout stays.
    int32_t nProcesses;
    McbEntry mcb[LINKBAY_MCB_COUNT];
    // Ours alone, after it.
    PortHolder holders[LINKBAY_MCB_COUNT][kHoldersPerMcb];
    ProcessMark openers[kOpenerSlots];  // processes that have the add-in open
};

// The area around the process count that AddinBase points at: the count is
// its first member, so the two addresses are one.
inline SharedArea& AreaOfProcessCount(int32_t* pnProcesses) {
    static_assert(std::is_standard_layout<SharedArea>::value && offsetof(SharedArea, nProcesses) == 0,
                  "the process count opens the shared area");
    return *reinterpret_cast<SharedArea*>(pnProcesses);
}

// The shared area, zero-filled when the first process maps it; it lives as
// long as some process has the library loaded.
SharedArea* MapSharedArea(const char* pszAddinName);

extern HINSTANCE g_hInstance;
extern int32_t g_nOpenCount;
extern RS232CI* g_pDrivers[LINKBAY_MCB_COUNT];
extern uint8_t g_bInterrogating;

// Copies with strncpy's limit of nSize characters and forces the last one to
// NUL; nothing happens for a null buffer or a size below 1.
void CopyBoundedText(char* pszBuffer, int32_t nSize, const char* pszText);

// Writes through an out-pointer the host may pass as null.
template <typename T>
void Store(T* pTarget, T value) {
    if (pTarget != nullptr) *pTarget = value;
}

// Says at level 0 that a named object is missing, why, and what that risks.
void ReportNamedObjectFailure(const char* pszWhat, const char* pszRisk);

// Process attach: records the module and forgets any earlier opens.
void OnProcessAttach(HINSTANCE hInstance);

}  // namespace linkbay
