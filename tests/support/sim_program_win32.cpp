// Under Wine, COMn is the link $WINEPREFIX/dosdevices/comN, and the native
// simulator program takes Unix paths.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>

#include "child_process.h"
#include "sim_program.h"
#include "test_env.h"

namespace linkbay {
namespace test {

// Wine starts a native program, but the process handle it returns stands
// for nothing that can be waited on or ended, and no handles reach it.
std::shared_ptr<void> LaunchSimulator(const std::string& sProgram, const std::vector<std::string>& args) {
    std::string sLine = CommandLineOf(sProgram, args);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &sLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return std::make_shared<int>(static_cast<int>(pi.dwProcessId));
}

std::string PortLinkForSimulator(int nPort, const std::string&, std::unique_ptr<ScopedVariable>* ppBinding) {
    ppBinding->reset();
    // Wine's default prefix when none is named.
    const char* pszPrefix = getenv("WINEPREFIX");
    const char* pszHome = getenv("HOME");
    const std::string sPrefix = pszPrefix != nullptr && *pszPrefix != '\0' ? pszPrefix
                                : std::string(pszHome != nullptr ? pszHome : "") + "/.wine";
    return sPrefix + "/dosdevices/com" + std::to_string(nPort);
}

std::string NativePath(const std::string& sPath) {
    using UnixFileNameFn = char*(CDECL*)(const WCHAR*);
    static const auto pfnUnixName = reinterpret_cast<UnixFileNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR szWide[MAX_PATH] = {};
    if (pfnUnixName == nullptr || MultiByteToWideChar(CP_ACP, 0, sPath.c_str(), -1, szWide, MAX_PATH) == 0)
        return sPath;
    char* pszUnix = pfnUnixName(szWide);
    if (pszUnix == nullptr) return sPath;
    const std::string sUnix = pszUnix;
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return sUnix;
}

}  // namespace test
}  // namespace linkbay
