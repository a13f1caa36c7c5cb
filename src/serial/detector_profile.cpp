#include "serial/detector_profile.h"

#include <cstdio>

#include "platform/platform.h"
#include "serial/debug_output.h"

namespace linkbay {
namespace {

// "M%01uS%02u" fits 15 characters for any MCB and detector number.
void SectionName(int32_t nMcb, uint32_t nDet, char (&szSection)[16]) {
    snprintf(szSection, sizeof szSection, "M%01uS%02u", static_cast<unsigned>(nMcb), static_cast<unsigned>(nDet));
}

// The system's text for a Win32 error code, leaving the last error as it was.
const char* TextOfError(DWORD dwError, char* pszText, int32_t cchText) {
    const DWORD dwSaved = GetLastError();
    SetLastError(dwError);
    ErrorText(pszText, cchText);
    SetLastError(dwSaved);
    return pszText;
}

void ReportFailedWrite(const char* pszSection, const char* pszKey) {
    char szReason[kErrorTextSize];
    ErrorText(szReason, sizeof szReason);
    const DWORD dwError = GetLastError();
    char szPath[platform::kProfilePathSize];
    if (!platform::ProfilePath(kConfigFile, szPath, sizeof szPath)) snprintf(szPath, sizeof szPath, "%s", kConfigFile);
    DebugPrint(0, "Linkbay: %s of [%s] was not stored: %s could not be written: %s\r\n", pszKey, pszSection, szPath,
               szReason);
    SetLastError(dwError);
}

}  // namespace

void ReportUnreadConfigFile() {
    platform::UnreadProfile file;
    if (!platform::TakeUnreadProfile(kConfigFile, &file)) return;
    if (file.dwError == ERROR_FILE_TOO_LARGE) {
        DebugPrint(0,
                   "Linkbay: %s is not read: it holds %llu bytes, more than the %llu a settings file may have; "
                   "every setting takes its default\r\n",
                   file.szPath, static_cast<unsigned long long>(file.cbSize),
                   static_cast<unsigned long long>(file.cbLimit));
        return;
    }
    char szReason[kErrorTextSize];
    DebugPrint(0, "Linkbay: %s cannot be read: %s; every setting takes its default\r\n", file.szPath,
               TextOfError(file.dwError, szReason, sizeof szReason));
}

int32_t ReadDetectorProfileString(int32_t nMcb, uint32_t nDet, const char* pszKey, const char* pszDefault,
                                  char* pszBuffer, uint32_t cbBuffer) {
    char szSection[16];
    SectionName(nMcb, nDet, szSection);
    const DWORD cch = GetPrivateProfileStringA(szSection, pszKey, pszDefault, pszBuffer, cbBuffer, kConfigFile);
    const DWORD dwError = GetLastError();
    // A value found, or a key or file simply missing, says the file was read
    // as it stands: only a file not read asks about it again.
    if (dwError == ERROR_SUCCESS || dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
        return static_cast<int32_t>(cch);
    ReportUnreadConfigFile();
    SetLastError(dwError);
    return static_cast<int32_t>(cch);
}

void GetDetectorProfileString(int32_t nMcb, uint32_t nDet, const char* pszKey, const char* pszDefault,
                              char* pszBuffer, uint32_t cbBuffer) {
    ReadDetectorProfileString(nMcb, nDet, pszKey, pszDefault, pszBuffer, cbBuffer);
}

bool WriteDetectorProfileString(int32_t nMcb, int32_t nDet, const char* pszKey, const char* pszValue) {
    if (pszKey == nullptr) return false;
    char szSection[16];
    SectionName(nMcb, static_cast<uint32_t>(nDet), szSection);
    if (WritePrivateProfileStringA(szSection, pszKey, pszValue, kConfigFile)) return true;
    ReportFailedWrite(szSection, pszKey);
    return false;
}

}  // namespace linkbay
