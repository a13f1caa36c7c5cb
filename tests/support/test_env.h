// Gives each test process its own IPC namespace and Windows directory, so
// tests run in parallel without seeing each other's objects or files.
#pragma once

#include <chrono>
#include <string>
#include <thread>

namespace linkbay {
namespace test {

// Sets LINKBAY_IPC_NAMESPACE and LINKBAY_WINDIR to fresh values (the
// directory is created) and returns the directory. Call again for another set.
std::string UseFreshEnvironment();

// Where bare profile names such as DETHUB.INI live: LINKBAY_WINDIR on the
// POSIX layer, the Windows directory on Windows.
std::string ProfileDirectory();

// Sets or removes a variable of this process's environment, which the
// processes it starts inherit.
void SetVariable(const std::string& sName, const std::string& sValue);
void UnsetVariable(const std::string& sName);

// A variable set while this lives; the old value (or its absence) comes back after.
class ScopedVariable {
public:
    ScopedVariable(const std::string& sName, const std::string& sValue);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string m_sName;
    bool m_bHadValue = false;
    std::string m_sOld;
};

// A fresh environment (UseFreshEnvironment) for as long as this lives: the
// IPC namespace and Windows directory before it come back after.
class ScopedFreshEnvironment {
public:
    ScopedFreshEnvironment() : m_sDir(UseFreshEnvironment()) {}
    const std::string& dir() const { return m_sDir; }

private:
    ScopedVariable m_ipc{"LINKBAY_IPC_NAMESPACE", ""};
    ScopedVariable m_windir{"LINKBAY_WINDIR", ""};
    std::string m_sDir;
};

// Milliseconds on a monotonic clock, for measuring how long a call took.
long long NowMs();

// Polls the condition until it holds or the time is up; whether it held.
template <typename Condition>
bool Eventually(Condition condition, long long msTimeout = 5000) {
    const long long deadline = NowMs() + msTimeout;
    while (!condition()) {
        if (NowMs() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The POSIX layer keeps a named object ("mutex" or "mapping") in a file of
// shared memory, in the current IPC namespace; Windows has none ("", false).
std::string ObjectFileName(const char* pszKind, const char* pszName);
bool ObjectFileExists(const char* pszKind, const char* pszName);

// Switches the POSIX layer to the way unprivileged users duplicate a handle
// of another process (reopening /proc/<pid>/fd/<n>) and back; false on
// Windows, which has one way.
bool UseDuplicateByReopen(bool bOn);

// Where a case holds, for the few where the platforms part: some behaviour
// is the POSIX layer's own (a refusal where Win32 would go on), and Wine,
// which stands in for Windows here, words or does a few things unlike
// Windows. Each such case says why where it is marked.
enum class Holds { Everywhere, NotUnderWine, OnPosixLayerOnly };
bool Applies(Holds holds);

}  // namespace test
}  // namespace linkbay
