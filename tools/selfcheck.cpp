// linkbay-selfcheck: exercises the platform layer against a pseudo-terminal
// and prints, check by check, what it verified.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "sim/line_settings.h"
#include "sim/pseudo_terminal.h"

namespace {

using linkbay::sim::PtyMaster;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Send(const PtyMaster& peer, const char* pszText) { (void)!write(peer.fd(), pszText, strlen(pszText)); }

// A directory and IPC namespace of the check's own, so that it meets no
// running host's objects or configuration.
std::string UseFreshEnvironment() {
    const std::string sTag = "selfcheck" + std::to_string(getpid());
    setenv("LINKBAY_IPC_NAMESPACE", sTag.c_str(), 1);
    const char* pszTmp = getenv("TMPDIR");
    std::string sTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/linkbay-" + sTag + "-XXXXXX";
    const char* pszDir = mkdtemp(&sTemplate[0]);
    if (pszDir != nullptr) setenv("LINKBAY_WINDIR", pszDir, 1);
    return pszDir != nullptr ? std::string(pszDir) : std::string();
}

int g_nFailed = 0;

void Report(bool bPassed, const std::string& sWhat) {
    printf("  [%s] %s\n", bPassed ? " ok " : "FAIL", sWhat.c_str());
    if (!bPassed) ++g_nFailed;
}

std::string ErrorText() {
    char szText[128] = "";
    FormatMessageA(0x10FF, nullptr, GetLastError(), 0x0400, szText, sizeof szText, nullptr);
    return szText;
}

HANDLE OpenCom1() {
    return CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void CheckPort(PtyMaster& peer) {
    const HANDLE hPort = OpenCom1();
    Report(hPort != INVALID_HANDLE_VALUE, "COM1 opens the device named by LINKBAY_COM1 (" + peer.devicePath() + ")");
    if (hPort == INVALID_HANDLE_VALUE) return;

    const HANDLE hSecond = OpenCom1();
    Report(hSecond == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED,
           "a second open of COM1 is refused: " + ErrorText());

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(hPort, &dcb);
    dcb.BaudRate = 128000;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    const bool bSet = SetCommState(hPort, &dcb) != FALSE;
    const linkbay::sim::LineSettings seen = linkbay::sim::ReadLineSettings(peer.fd());
    Report(bSet && seen.baud == 128000 && seen.dataBits == 8 && seen.parity == 'N' && seen.stopBits == 1,
           "128000 baud, 8N1 set through the DCB; the line reports " + std::to_string(seen.baud) + " " +
               std::to_string(seen.dataBits) + seen.parity + std::to_string(seen.stopBits));

    COMMTIMEOUTS timeouts = {300, 0, 0, 0, 1000};
    SetCommTimeouts(hPort, &timeouts);
    Send(peer, "abcd");
    char buffer[16] = {};
    DWORD cbRead = 0;
    const long long start = NowMs();
    const BOOL bRead = ReadFile(hPort, buffer, 10, &cbRead, nullptr);
    const long long elapsed = NowMs() - start;
    Report(bRead && cbRead == 4 && elapsed >= 290,
           "a read of 10 bytes with 4 sent ends by the 300 ms interval time-out with 4 bytes after " +
               std::to_string(elapsed) + " ms");

    DWORD cbWritten = 0;
    WriteFile(hPort, "hello", 5, &cbWritten, nullptr);
    FlushFileBuffers(hPort);
    Report(linkbay::sim::ReadUntilQuiet(peer.fd(), 5, 1000) == "hello", "bytes written reach the far end of the line");

    Send(peer, "stale");
    Sleep(50);
    PurgeComm(hPort, PURGE_RXCLEAR);
    COMSTAT stat{};
    ClearCommError(hPort, nullptr, &stat);
    Report(stat.cbInQue == 0, "purge drops unread input");

    peer.close();
    const BOOL bAlive = ReadFile(hPort, nullptr, 0, &cbRead, nullptr);
    Report(!bAlive, "a zero-byte read notices the line hanging up: " + ErrorText());
    CloseHandle(hPort);
}

void CheckMutexAndMapping() {
    const HANDLE hMutex = CreateMutexA(nullptr, FALSE, "SELFCHECK");
    const bool bTwice = WaitForSingleObject(hMutex, 0) == WAIT_OBJECT_0 && WaitForSingleObject(hMutex, 0) == WAIT_OBJECT_0;
    const bool bReleased = ReleaseMutex(hMutex) && ReleaseMutex(hMutex) && !ReleaseMutex(hMutex);
    Report(hMutex != nullptr && bTwice && bReleased, "the named mutex is recursive and refuses a release it does not hold");

    const pid_t child = fork();
    if (child == 0) {
        // Another process that tries the mutex while we hold none of it.
        const HANDLE hOther = CreateMutexA(nullptr, FALSE, "SELFCHECK");
        _exit(WaitForSingleObject(hOther, 2000) == WAIT_OBJECT_0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Report(WIFEXITED(status) && WEXITSTATUS(status) == 0, "another process takes the free mutex");
    CloseHandle(hMutex);

    const HANDLE hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "SELFCHECK");
    const bool bNew = hMapping != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    auto* pArea = static_cast<volatile DWORD*>(MapViewOfFile(hMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    Report(bNew && pArea != nullptr && pArea[0] == 0, "a new named mapping starts zero-filled");
    if (pArea == nullptr) return;
    pArea[0] = 0x1234;
    const pid_t reader = fork();
    if (reader == 0) {
        const HANDLE hOther = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "SELFCHECK");
        const bool bExisted = GetLastError() == ERROR_ALREADY_EXISTS;
        auto* pOther = static_cast<volatile DWORD*>(MapViewOfFile(hOther, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        _exit(bExisted && pOther != nullptr && pOther[0] == 0x1234 ? 0 : 1);
    }
    waitpid(reader, &status, 0);
    Report(WIFEXITED(status) && WEXITSTATUS(status) == 0, "a second process sees the first one's writes");
    UnmapViewOfFile(const_cast<DWORD*>(pArea));
    CloseHandle(hMapping);
}

void CheckProfile(const std::string& sDir) {
    const bool bWrote = WritePrivateProfileStringA("CONFIG", "COM1", "KORV", "DETHUB.INI") != FALSE;
    char szValue[16] = "";
    const DWORD cch = GetPrivateProfileStringA("config", "com1", "none", szValue, sizeof szValue, "DETHUB.INI");
    Report(bWrote && cch == 4 && strcmp(szValue, "KORV") == 0,
           "DETHUB.INI written and read back case-insensitively in " + sDir);
    char szShort[3] = "";
    const DWORD cchShort = GetPrivateProfileStringA("CONFIG", "COM1", "", szShort, sizeof szShort, "DETHUB.INI");
    Report(cchShort == 2 && strcmp(szShort, "KO") == 0, "a value too long for its buffer is cut to size - 1");
}

void CheckArithmetic() {
    Report(MulDiv(10, 3, 4) == 8 && MulDiv(-10, 3, 4) == -8 && MulDiv(1, 1, 0) == -1 &&
               MulDiv(0x40000000, 4, 2) == -1,
           "MulDiv rounds half away from zero and fails with -1");
    TIME_ZONE_INFORMATION tzi{};
    GetTimeZoneInformation(&tzi);
    printf("  [info] time zone bias %d minutes (UTC - local standard time)\n", static_cast<int>(tzi.Bias));
}

}  // namespace

int main() {
    printf("Linkbay platform self-check\n");
    const std::string sDir = UseFreshEnvironment();
    PtyMaster peer;
    std::string sError;
    if (!peer.open(sError)) {
        printf("  [FAIL] cannot create a pseudo-terminal (%s); is /dev/ptmx available?\n", sError.c_str());
        return 1;
    }
    setenv("LINKBAY_COM1", peer.devicePath().c_str(), 1);
    printf("Serial line:\n");
    CheckPort(peer);
    printf("Shared objects:\n");
    CheckMutexAndMapping();
    printf("Configuration files:\n");
    CheckProfile(sDir);
    printf("Arithmetic and time:\n");
    CheckArithmetic();
    printf("%s: %d check(s) failed\n", g_nFailed == 0 ? "PASSED" : "FAILED", g_nFailed);
    std::error_code error;
    std::filesystem::remove_all(sDir, error);
    return g_nFailed == 0 ? 0 : 1;
}
