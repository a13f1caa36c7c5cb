// Port commands of the helper program: hold a COM port in another process.
#include <cstdint>
#include <cstdio>
#include <string>

#include "helper_commands.h"
#include "platform/platform.h"

namespace linkbay {
namespace test {

// open-port N: opens COMn and prints "OPENED <handle>" or "FAILED <error>";
// then each "write TEXT" line writes TEXT and prints "WROTE <result> <bytes>".
int OpenPortCommand(int argc, char** argv) {
    if (argc < 1) return 2;
    const std::string sName = std::string("COM") + argv[0];
    const HANDLE hPort = CreateFileA(sName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hPort == INVALID_HANDLE_VALUE) {
        printf("FAILED %u\n", static_cast<unsigned>(GetLastError()));
        WaitForInputToClose();
        return 1;
    }
    printf("OPENED %lu\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hPort)));
    std::string sLine;
    while (ReadInputLine(&sLine)) {
        if (sLine.rfind("write ", 0) != 0) continue;
        DWORD cb = 0;
        const BOOL bOk = WriteFile(hPort, sLine.data() + 6, static_cast<DWORD>(sLine.size() - 6), &cb, nullptr);
        printf("WROTE %d %u\n", bOk, static_cast<unsigned>(cb));
    }
    return 0;
}

}  // namespace test
}  // namespace linkbay
