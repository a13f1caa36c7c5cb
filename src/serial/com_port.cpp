// The port primitives of RS232CI: thin, synchronous, and never retrying;
// the drivers' link protocols decide what a failure means.
#include <cstdio>

#include "serial/rs232ci.h"

namespace linkbay {

HANDLE RS232CI::COMOpen(int32_t nPort) {
    char szName[16];
    snprintf(szName, sizeof szName, "COM%d", static_cast<int>(nPort));
    return CreateFileA(szName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void RS232CI::COMClose(HANDLE hPort) {
    if (IsPortHandle(hPort)) CloseHandle(hPort);
}

bool RS232CI::COMCheck(HANDLE hPort) {
    if (!IsPortHandle(hPort)) return false;
    DWORD dwErrors = 0;
    ClearCommError(hPort, &dwErrors, nullptr);
    // A zero-byte read costs nothing on a healthy line and fails on a dead one.
    char cUnused = 0;
    DWORD cbRead = 0;
    if (ReadFile(hPort, &cUnused, 0, &cbRead, nullptr)) return true;
    CloseHandle(hPort);
    return false;
}

void RS232CI::COMPurge(HANDLE hPort) {
    if (!IsPortHandle(hPort)) return;
    FlushFileBuffers(hPort);
    PurgeComm(hPort, PURGE_RXCLEAR);
    DWORD dwErrors = 0;
    ClearCommError(hPort, &dwErrors, nullptr);
}

bool RS232CI::COMWrite(HANDLE hPort, const void* pData, uint32_t cbData) {
    if (!IsPortHandle(hPort)) return false;
    DWORD cbWritten = 0;
    if (!WriteFile(hPort, pData, cbData, &cbWritten, nullptr)) {
        char szError[kErrorTextSize];
        DebugPrint(0, "RS232CI::COMWrite(): WriteFile() failed, %s\r\n",
                   ErrorText(szError, sizeof szError));
        return false;
    }
    if (cbWritten != cbData) {
        DebugPrint(0, "RS232CI::COMWrite(): Incomplete WriteFile(), wanted %u, sent %u\r\n",
                   static_cast<unsigned>(cbData), static_cast<unsigned>(cbWritten));
        return false;
    }
    return true;
}

bool RS232CI::COMRead(HANDLE hPort, void* pBuffer, uint32_t cbData) {
    if (!IsPortHandle(hPort)) return false;
    DWORD cbRead = 0;
    if (!ReadFile(hPort, pBuffer, cbData, &cbRead, nullptr)) {
        char szError[kErrorTextSize];
        DebugPrint(0, "RS232CI::COMRead(): ReadFile() failed, %s\r\n",
                   ErrorText(szError, sizeof szError));
        return false;
    }
    if (cbRead != cbData) {
        DebugPrint(0, "RS232CI::COMRead(): Incomplete ReadFile(), wanted %u, got %u\r\n",
                   static_cast<unsigned>(cbData), static_cast<unsigned>(cbRead));
        return false;
    }
    return true;
}

}  // namespace linkbay
