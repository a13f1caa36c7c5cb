#include "addin/mutex_access.h"

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
        OutputDebugStringA("*** TAutoMutex \"");
        OutputDebugStringA(pszName);
        OutputDebugStringA("\" Create Failed ***\r\n");
    }
}

namespace linkbay {

TMutexAccess::TMutexAccess(const TAutoMutex& mutex) : m_hMutex(mutex.Handle()) {
    const DWORD dwResult = WaitForSingleObject(m_hMutex, INFINITE);
    if (dwResult != WAIT_OBJECT_0 && dwResult != WAIT_ABANDONED)
        OutputDebugStringA("*** TMutexAccess Wait Failed ***\r\n");
}

TMutexAccess::~TMutexAccess() {
    if (m_hMutex != nullptr) ReleaseMutex(m_hMutex);
}

}  // namespace linkbay
