#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "library_loader.h"

namespace linkbay_host {

namespace {

// The system's text for the last error, without its trailing line break.
std::string LastErrorText() {
    const DWORD dwError = GetLastError();
    char szText[256] = {};
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               dwError, 0, szText, sizeof szText, nullptr);
    while (cch > 0 && (szText[cch - 1] == '\r' || szText[cch - 1] == '\n' || szText[cch - 1] == ' '))
        szText[--cch] = '\0';
    return "error " + std::to_string(dwError) + (cch > 0 ? ": " + std::string(szText) : std::string());
}

}  // namespace

AddinLibrary::~AddinLibrary() {
    if (m_hModule != nullptr) FreeLibrary(static_cast<HMODULE>(m_hModule));
}

bool AddinLibrary::load(const std::string& sPath) {
    const HMODULE hModule = LoadLibraryA(sPath.c_str());
    if (hModule == nullptr) {
        m_sError = "cannot load " + sPath + ": " + LastErrorText();
        return false;
    }
    m_hModule = hModule;
    // The export is a data object, not a function: only its address is wanted.
    m_pAddin = reinterpret_cast<AddinBase*>(GetProcAddress(hModule, LINKBAY_EXPORT_NAME));
    if (m_pAddin == nullptr) {
        m_sError = sPath + " does not export " LINKBAY_EXPORT_NAME;
        return false;
    }
    return true;
}

std::string DefaultLibraryPath(const char* pszArgv0) {
    // The module's own path, not argv[0]: Windows starts programs found on the
    // PATH or without their extension, and argv[0] then names no directory.
    char szProgram[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameA(nullptr, szProgram, sizeof szProgram);
    std::string sProgram = cch > 0 && cch < sizeof szProgram ? std::string(szProgram, cch)
                                                             : std::string(pszArgv0 != nullptr ? pszArgv0 : "");
    const size_t nSlash = sProgram.find_last_of("\\/");
    const std::string sDir = nSlash == std::string::npos ? "." : sProgram.substr(0, nSlash);
    return sDir + "\\linkbay.dll";
}

}  // namespace linkbay_host
