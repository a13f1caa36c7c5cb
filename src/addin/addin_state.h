// State of the add-in: the area shared by every process that loads the
// library, and the per-process globals.
#pragma once

#include <cstdint>

#include "linkbay/addin.h"
#include "platform/platform.h"

namespace linkbay {

class RS232CI;

struct SharedArea {
    int32_t nProcesses;
    McbEntry mcb[LINKBAY_MCB_COUNT];
};

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
