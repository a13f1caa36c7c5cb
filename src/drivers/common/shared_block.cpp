#include "drivers/common/shared_block.h"

#include <cstdio>

#include "serial/debug_output.h"

namespace linkbay {
namespace {

void ReportMappingFailure(const char* pszClass, const char* pszCall, MappingReport report) {
    char szStart[80];
    std::snprintf(szStart, sizeof szStart, "%s::%s(): Error in %s():\r\n    ", pszClass, pszClass, pszCall);
    if (report == MappingReport::Direct) {
        OutputErrorDirect(szStart);
        return;
    }
    char szError[kErrorTextSize];
    DebugPrint(0, "%s%s\r\n", szStart, ErrorText(szError, sizeof szError));
}

}  // namespace

void* MapSharedBlock(const char* pszClass, int32_t nMCB, uint32_t cbSize, MappingReport report,
                     HANDLE& hMapping) {
    char szName[32];
    std::snprintf(szName, sizeof szName, "%s%5.5d", pszClass, nMCB);
    hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, cbSize, szName);
    if (hMapping == nullptr) {
        ReportMappingFailure(pszClass, "CreateFileMapping", report);
        return nullptr;
    }
    void* pView = MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, cbSize);
    if (pView != nullptr) return pView;
    ReportMappingFailure(pszClass, "MapViewOfFile", report);
    CloseHandle(hMapping);
    hMapping = nullptr;
    return nullptr;
}

void ReportAllocationFailure(const char* pszClass) {
    char szText[80];
    std::snprintf(szText, sizeof szText, "%s::%s(): Failure to allocate m_pCommonData buffer!!!\r\n", pszClass,
                  pszClass);
    OutputDebugStringA(szText);
}

}  // namespace linkbay
