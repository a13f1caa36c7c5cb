// A debug-output monitor, as debug viewers are: OutputDebugStringA hands
// each message over through the "DBWIN_BUFFER" section (the writer's process
// id, then the text) and two events; one monitor a session.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "debug_sink.h"
#include "test_env.h"

namespace linkbay {
namespace test {

namespace {

constexpr DWORD kBufferSize = 4096;

struct Monitor {
    HANDLE hBufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    HANDLE hDataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    HANDLE hSection = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER");
    const char* pView = hSection != nullptr
                            ? static_cast<const char*>(MapViewOfFile(hSection, FILE_MAP_READ, 0, 0, kBufferSize))
                            : nullptr;
    std::mutex lock;
    std::string sText;

    void run() {
        for (;;) {
            SetEvent(hBufferReady);
            if (WaitForSingleObject(hDataReady, INFINITE) != WAIT_OBJECT_0) return;
            const char* pszMessage = pView + sizeof(DWORD);
            const size_t cch = strnlen(pszMessage, kBufferSize - sizeof(DWORD));
            std::lock_guard<std::mutex> guard(lock);
            sText.append(pszMessage, cch);
        }
    }
};

Monitor& TheMonitor() {
    // Lives as long as the process; its thread is never joined.
    static Monitor* s_pMonitor = [] {
        auto* pMonitor = new Monitor;
        if (pMonitor->pView != nullptr && pMonitor->hBufferReady != nullptr && pMonitor->hDataReady != nullptr)
            std::thread([pMonitor] { pMonitor->run(); }).detach();
        return pMonitor;
    }();
    return *s_pMonitor;
}

}  // namespace

DebugSink::DebugSink(const std::string&) { TheMonitor(); }

// A message written just before may still be on its way in: a marker of our
// own goes through the buffer only after it, so once the marker is in, so
// is everything before it.
std::string DebugSink::text() const {
    Monitor& monitor = TheMonitor();
    static unsigned s_nMarker = 0;
    const std::string sMarker = "\x01sync " + std::to_string(++s_nMarker) + "\x01";
    OutputDebugStringA(sMarker.c_str());
    size_t at = std::string::npos;
    Eventually([&] {
        std::lock_guard<std::mutex> guard(monitor.lock);
        return (at = monitor.sText.find(sMarker)) != std::string::npos;
    });
    std::lock_guard<std::mutex> guard(monitor.lock);
    if (at != std::string::npos) monitor.sText.erase(at, sMarker.size());
    return monitor.sText;
}

}  // namespace test
}  // namespace linkbay
