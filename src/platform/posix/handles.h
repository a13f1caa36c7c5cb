// Per-process handle table and last-error state shared by the POSIX layer.
#pragma once

#include "win32_api.h"

#include <atomic>
#include <sched.h>

namespace linkbay {
namespace platform {
namespace posix {

// A lock for the handle table and the object registry, held only for a
// lookup or a copy: every comm and wait call takes one, and an uncontended
// std::mutex costs more than that work. A waiter yields rather than spins,
// as the holder may be off its core. Usable with std::lock_guard.
class ShortLock {
public:
    void lock() {
        while (m_held.exchange(true, std::memory_order_acquire)) {
            while (m_held.load(std::memory_order_relaxed)) sched_yield();
        }
    }
    void unlock() { m_held.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_held{false};
};

enum class HandleKind : uint8_t { None, Port, File, Process, Mutex, Mapping };

// What a handle stands for. Entries are copied out of the table, so a
// caller never holds a pointer into it across a lock.
struct HandleEntry {
    HandleKind kind = HandleKind::None;
    int fd = -1;             // Port, File: the descriptor; Process: the pidfd or -1
    DWORD pid = 0;           // Process
    COMMTIMEOUTS timeouts{}; // Port
    bool tty = false;        // Port: the descriptor is a terminal, fixed for its life
    bool memory = false;     // Port: a line in memory (test_hooks.h); fd only names it
    void* object = nullptr;  // Mutex, Mapping: the object's record
};

// A descriptor-backed handle encodes its descriptor, so that its value means
// something to another process that duplicates it from us.
HANDLE EncodeFdHandle(int fd);
int DecodeFdHandle(HANDLE h);  // -1 when h is not a descriptor-backed value

// Adds an entry; returns nullptr with ERROR_TOO_MANY_OPEN_FILES when full.
// Descriptor-backed kinds get EncodeFdHandle(fd), the others a table value.
HANDLE AddHandle(const HandleEntry& entry);
// Copies the entry out; false with ERROR_INVALID_HANDLE when h is not ours
// or is not one of the kinds accepted (HandleKind::None accepts any).
bool FindHandle(HANDLE h, HandleEntry* pEntry, HandleKind kindA = HandleKind::None,
                HandleKind kindB = HandleKind::None);
bool SetHandleTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts);
// Removes the entry and hands it back for the caller to release.
bool TakeHandle(HANDLE h, HandleEntry* pEntry);

// The pseudo handle of GetCurrentProcess().
HANDLE CurrentProcessPseudoHandle();

// Sets the last error from an errno value; codes without a Windows meaning
// keep errno under the customer bit so that FormatMessageA can still name it.
void SetLastErrorFromErrno(int err);
DWORD ErrorFromErrno(int err);
constexpr DWORD kErrnoErrorBit = 0x20000000u;

// Releases a named object record (defined with the objects).
void ReleaseObject(HandleKind kind, void* object);

}  // namespace posix
}  // namespace platform
}  // namespace linkbay
