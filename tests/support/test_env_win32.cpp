// The Windows counterpart of test_env.cpp. The variables keep their meaning
// for the POSIX layer only; Win32 itself ignores them (its named objects live
// in the session, bare profile names in the Windows directory), so under Wine
// the lane's fresh prefix is what keeps runs apart.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <string>

#include "test_env.h"

namespace linkbay {
namespace test {

namespace {

// A new directory under the temporary directory, named after sTag.
std::string MakeTemporaryDirectory(const std::string& sTag) {
    char szTemp[MAX_PATH] = {};
    const DWORD cch = GetTempPathA(sizeof szTemp, szTemp);
    if (cch == 0 || cch >= sizeof szTemp) return std::string();
    for (unsigned nTry = 0; nTry < 100; ++nTry) {
        const std::string sDir = std::string(szTemp) + "linkbay-" + sTag + "-" +
                                 std::to_string(GetTickCount() + nTry);
        if (CreateDirectoryA(sDir.c_str(), nullptr)) return sDir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return std::string();
}

}  // namespace

std::string UseFreshEnvironment() {
    static int s_nCount = 0;
    const std::string sTag = "t" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++s_nCount);
    // _putenv_s changes the C runtime's copy and the process environment
    // that children inherit.
    _putenv_s("LINKBAY_IPC_NAMESPACE", sTag.c_str());
    const std::string sDir = MakeTemporaryDirectory(sTag);
    if (!sDir.empty()) _putenv_s("LINKBAY_WINDIR", sDir.c_str());
    return sDir;
}

std::string ProfileDirectory() {
    char szDir[MAX_PATH] = {};
    const UINT cch = GetWindowsDirectoryA(szDir, sizeof szDir);
    return cch > 0 && cch < sizeof szDir ? std::string(szDir, cch) : std::string();
}

void SetVariable(const std::string& sName, const std::string& sValue) { _putenv_s(sName.c_str(), sValue.c_str()); }
// An empty value removes the variable.
void UnsetVariable(const std::string& sName) { _putenv_s(sName.c_str(), ""); }

bool Applies(Holds holds) {
    static const bool s_bWine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return holds == Holds::Everywhere || (holds == Holds::NotUnderWine && !s_bWine);
}

std::string ObjectFileName(const char*, const char*) { return std::string(); }
bool ObjectFileExists(const char*, const char*) { return false; }
bool UseDuplicateByReopen(bool) { return false; }

}  // namespace test
}  // namespace linkbay
