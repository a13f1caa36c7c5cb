// A driver's per-instrument data, shared by every process that drives the
// same port through a named mapping ("<CLASS>%5.5d" with the MCB number), or
// kept privately when no mapping can be had.
#pragma once

#include <cstdint>
#include <new>

#include "platform/platform.h"

namespace linkbay {

// How a family reports a failing mapping: through DebugPrint at level 0, or
// straight to the debug output in pieces. Both are unfiltered.
enum class MappingReport { Levelled, Direct };

// Maps sizeof-bytes of the named block (zero-filled when new) and returns the
// view, with its mapping in hMapping; returns null with hMapping null when
// that fails. pszClass names the driver class in the name and the reports.
void* MapSharedBlock(const char* pszClass, int32_t nMCB, uint32_t cbSize, MappingReport report,
                     HANDLE& hMapping);
void ReportAllocationFailure(const char* pszClass);

template <typename T>
T* OpenSharedBlock(const char* pszClass, int32_t nMCB, MappingReport report, HANDLE& hMapping) {
    void* pView = MapSharedBlock(pszClass, nMCB, sizeof(T), report, hMapping);
    if (pView != nullptr) return static_cast<T*>(pView);
    T* pPrivate = new (std::nothrow) T();
    if (pPrivate == nullptr) ReportAllocationFailure(pszClass);
    return pPrivate;
}

// Unmaps a shared block or frees a private one; both end null.
template <typename T>
void CloseSharedBlock(T*& pData, HANDLE& hMapping) {
    if (hMapping != nullptr) {
        if (pData != nullptr) UnmapViewOfFile(pData);
        CloseHandle(hMapping);
    } else {
        delete pData;
    }
    hMapping = nullptr;
    pData = nullptr;
}

}  // namespace linkbay
