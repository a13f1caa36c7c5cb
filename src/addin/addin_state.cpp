#include "addin/addin_state.h"

#include <cstdio>
#include <cstring>

namespace linkbay {

HINSTANCE g_hInstance = nullptr;
int32_t g_nOpenCount = 0;
RS232CI* g_pDrivers[LINKBAY_MCB_COUNT] = {};
uint8_t g_bInterrogating = 0;

void OnProcessAttach(HINSTANCE hInstance) {
    g_hInstance = hInstance;
    g_nOpenCount = 0;
}

void CopyBoundedText(char* pszBuffer, int32_t nSize, const char* pszText) {
    if (pszBuffer == nullptr || nSize <= 0) return;
    strncpy(pszBuffer, pszText != nullptr ? pszText : "", static_cast<size_t>(nSize));
    pszBuffer[nSize - 1] = '\0';
}

SharedArea* MapSharedArea(const char* pszAddinName) {
    char szName[64];
    snprintf(szName, sizeof szName, "UADDKELDASHARED%s", pszAddinName);
    const HANDLE hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(SharedArea), szName);
    void* pView = hMapping != nullptr ? MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (pView != nullptr) return static_cast<SharedArea*>(pView);  // the mapping stays open for the process's life
    // Without shared memory every process sees only itself; better than no add-in at all.
    OutputDebugStringA("*** Linkbay: shared area unavailable, processes will not share the MCB table ***\r\n");
    if (hMapping != nullptr) CloseHandle(hMapping);
    static SharedArea s_privateArea;
    return &s_privateArea;
}

}  // namespace linkbay
