#include "serial/detector_profile.h"

#include <cstdio>

#include "platform/platform.h"

namespace linkbay {
namespace {

// "M%01uS%02u" fits 15 characters for any MCB and detector number.
void SectionName(int32_t nMcb, uint32_t nDet, char (&szSection)[16]) {
    snprintf(szSection, sizeof szSection, "M%01uS%02u", static_cast<unsigned>(nMcb), static_cast<unsigned>(nDet));
}

}  // namespace

int32_t ReadDetectorProfileString(int32_t nMcb, uint32_t nDet, const char* pszKey, const char* pszDefault,
                                  char* pszBuffer, uint32_t cbBuffer) {
    char szSection[16];
    SectionName(nMcb, nDet, szSection);
    return static_cast<int32_t>(
        GetPrivateProfileStringA(szSection, pszKey, pszDefault, pszBuffer, cbBuffer, kConfigFile));
}

void GetDetectorProfileString(int32_t nMcb, uint32_t nDet, const char* pszKey, const char* pszDefault,
                              char* pszBuffer, uint32_t cbBuffer) {
    ReadDetectorProfileString(nMcb, nDet, pszKey, pszDefault, pszBuffer, cbBuffer);
}

bool WriteDetectorProfileString(int32_t nMcb, int32_t nDet, const char* pszKey, const char* pszValue) {
    if (pszKey == nullptr) return false;
    char szSection[16];
    SectionName(nMcb, static_cast<uint32_t>(nDet), szSection);
    return WritePrivateProfileStringA(szSection, pszKey, pszValue, kConfigFile) != FALSE;
}

}  // namespace linkbay
