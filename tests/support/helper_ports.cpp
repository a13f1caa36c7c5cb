// Port commands of the helper program: hold a COM port in another process.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "helper_commands.h"
#include "platform/platform.h"

namespace linkbay {
namespace test {
namespace {

void ServePortRequests(HANDLE hPort) {
    std::string sLine;
    while (ReadInputLine(&sLine)) {
        DWORD cb = 0;
        if (sLine.rfind("write ", 0) == 0) {
            const std::string sData = sLine.substr(6);
            const BOOL bOk = WriteFile(hPort, sData.data(), static_cast<DWORD>(sData.size()), &cb, nullptr);
            printf("WROTE %d %u\n", bOk, static_cast<unsigned>(cb));
        } else if (sLine.rfind("read ", 0) == 0) {
            COMMTIMEOUTS timeouts = {0, 0, 2000, 0, 2000};
            SetCommTimeouts(hPort, &timeouts);
            char buffer[256] = {};
            const DWORD cbWanted = static_cast<DWORD>(atoi(sLine.c_str() + 5)) % sizeof buffer;
            const BOOL bOk = ReadFile(hPort, buffer, cbWanted, &cb, nullptr);
            printf("READ %d %.*s\n", bOk, static_cast<int>(cb), buffer);
        } else if (sLine == "close") {
            printf("CLOSED %d\n", CloseHandle(hPort));
        }
    }
}

// open-port N: opens COMn, prints "OPENED <handle>" or "FAILED <error>",
// then serves "write TEXT", "read N" and "close" until its input closes.
int OpenPortCommand(int argc, char** argv) {
    if (argc < 1) return 2;
    const std::string sName = std::string("COM") + argv[0];
    const HANDLE hPort = CreateFileA(sName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hPort == INVALID_HANDLE_VALUE) {
        printf("FAILED %u\n", static_cast<unsigned>(GetLastError()));
        WaitForInputToClose();
        return 1;
    }
    printf("OPENED %lu\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hPort)));
    ServePortRequests(hPort);
    return 0;
}

}  // namespace

const HelperCommand kPortCommands[] = {
    {"open-port", OpenPortCommand},
    {nullptr, nullptr},
};

}  // namespace test
}  // namespace linkbay
