// The Windows part of the test environment. The variables keep their meaning
// for the POSIX layer only; Win32 itself ignores them (its named objects live
// in the session, bare profile names in the Windows directory), so under Wine
// the lane's fresh prefix is what keeps runs apart.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>

#include "test_env.h"

namespace linkbay {
namespace test {

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
