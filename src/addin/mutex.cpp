#include "addin/mutex_access.h"

#include "addin/addin_state.h"
#include "serial/debug_output.h"

TAutoMutex::~TAutoMutex() { Close(); }

void TAutoMutex::Close() {
    if (m_hMutex != nullptr) CloseHandle(m_hMutex);
    m_hMutex = nullptr;
}

void TAutoMutex::Create(const char* pszName) {
    if (m_hMutex != nullptr) {
        OutputDebugStringA("*** TAutoMutex \"");
        OutputDebugStringA(pszName);
        OutputDebugStringA("\" Attempted second Create ***\r\n");
        return;
    }
    m_hMutex = CreateMutexA(nullptr, FALSE, pszName);
    if (m_hMutex == nullptr) {
        const DWORD dwError = GetLastError();
        OutputDebugStringA("*** TAutoMutex \"");
        OutputDebugStringA(pszName);
        OutputDebugStringA("\" Create Failed ***\r\n");
        SetLastError(dwError);
        linkbay::ReportNamedObjectFailure("shared lock", "hosts in other processes may mix their traffic on a port");
    }
}

namespace linkbay {

namespace {
constexpr DWORD kLongWaitMs = 5000;

// A holder that is stopped or stuck blocks every host: say who, once a wait.
void ReportLongWait(HANDLE hMutex) {
    DWORD dwHolder = 0;
    char szProgram[64] = "";
    if (platform::DescribeMutexHolder(hMutex, &dwHolder, szProgram, sizeof szProgram)) {
        DebugPrint(0, "*** The add-in's shared mutex has been held for more than %lu s by process %lu (%s); "
                      "still waiting ***\r\n",
                   static_cast<unsigned long>(kLongWaitMs / 1000), static_cast<unsigned long>(dwHolder), szProgram);
    } else {
        DebugPrint(0, "*** The add-in's shared mutex has been held for more than %lu s by another process; "
                      "still waiting ***\r\n",
                   static_cast<unsigned long>(kLongWaitMs / 1000));
    }
}
}  // namespace

TMutexAccess::TMutexAccess(const TAutoMutex& mutex) : m_hMutex(mutex.Handle()) {
    DWORD dwResult = WaitForSingleObject(m_hMutex, kLongWaitMs);
    if (dwResult == WAIT_TIMEOUT) {
        ReportLongWait(m_hMutex);
        dwResult = WaitForSingleObject(m_hMutex, INFINITE);
    }
    if (dwResult != WAIT_OBJECT_0 && dwResult != WAIT_ABANDONED)
        OutputDebugStringA("*** TMutexAccess Wait Failed ***\r\n");
}

TMutexAccess::~TMutexAccess() {
    if (m_hMutex != nullptr) ReleaseMutex(m_hMutex);
}

}  // namespace linkbay
