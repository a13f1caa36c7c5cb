#include "addin/addin_state.h"

#include <cstdio>
#include <cstring>

#include "serial/debug_output.h"

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

void ReportNamedObjectFailure(const char* pszWhat, const char* pszRisk) {
    char szWhy[192];
    if (!platform::DescribeNamedObjectProblem(szWhy, sizeof szWhy)) ErrorText(szWhy, sizeof szWhy);
    for (size_t n = strlen(szWhy); n > 0 && szWhy[n - 1] == ' '; --n) szWhy[n - 1] = '\0';
    DebugPrint(0, "Linkbay: no %s (%s): %s\r\n", pszWhat, szWhy, pszRisk);
}

SharedArea* MapSharedArea(const char* pszAddinName) {
    char szName[64];
    snprintf(szName, sizeof szName, "UADDKELDASHARED%s", pszAddinName);
    const HANDLE hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(SharedArea), szName);
    // The whole area or nothing: an older build's smaller area, still open elsewhere, is refused.
    void* pView =
        hMapping != nullptr ? MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedArea)) : nullptr;
    if (pView != nullptr) return static_cast<SharedArea*>(pView);  // the mapping stays open for the process's life
    // Without shared memory every process sees only itself: it works on, loudly.
    ReportNamedObjectFailure("shared area", "processes will not share the MCB table");
    if (hMapping != nullptr) CloseHandle(hMapping);
    static SharedArea s_privateArea;
    return &s_privateArea;
}

}  // namespace linkbay
