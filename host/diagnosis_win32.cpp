// The Windows side of the diagnosis: a port is only looked up by name, never
// opened (an open would be exclusive and could fail another host's).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "diagnosis.h"

namespace linkbay_host {

std::string ConfigurationDirectory() {
    char szDir[MAX_PATH] = {};
    const UINT cch = GetWindowsDirectoryA(szDir, sizeof szDir);
    return cch > 0 && cch < sizeof szDir ? std::string(szDir, cch) : "the Windows directory";
}

std::string ConfigurationFile() { return ConfigurationDirectory() + "\\DETHUB.INI"; }

std::string DeviceRemedy(int nPort) {
    return "check in the Device Manager which port the instrument's adapter is, and configure that one instead of "
           "COM" + std::to_string(nPort);
}

PortCheck CheckPortDevice(int nPort, uint32_t) {
    PortCheck check;
    check.sDevice = "COM" + std::to_string(nPort);
    char szTarget[MAX_PATH] = {};
    if (QueryDosDeviceA(check.sDevice.c_str(), szTarget, sizeof szTarget) == 0) check.fault = PortFault::Missing;
    return check;
}

bool IsSharedMemory(const void* p) {
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(p, &info, sizeof info) == 0) return true;  // nothing to tell from: no alarm
    return info.Type == MEM_MAPPED;
}

}  // namespace linkbay_host
