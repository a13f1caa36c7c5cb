// The Windows counterpart of child_process_posix.cpp: CreateProcess with anonymous
// pipes. The pipe ends are kept as C runtime descriptors in the members the
// POSIX version uses for its file descriptors.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <filesystem>

#include "child_process.h"
#include "test_env.h"

namespace linkbay {
namespace test {

namespace {

// Exit code a killed child reports, the same number a SIGKILL gives on POSIX.
constexpr UINT kKilledExitCode = 128 + 9;

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(std::string* psLine, const std::string& sArg) {
    if (!psLine->empty()) psLine->push_back(' ');
    if (!sArg.empty() && sArg.find_first_of(" \t\n\v\"") == std::string::npos) {
        psLine->append(sArg);
        return;
    }
    psLine->push_back('"');
    size_t nBackslashes = 0;
    for (const char c : sArg) {
        if (c == '\\') {
            ++nBackslashes;
            continue;
        }
        // Backslashes double only before a quote, which is escaped itself.
        psLine->append(c == '"' ? 2 * nBackslashes + 1 : nBackslashes, '\\');
        psLine->push_back(c);
        nBackslashes = 0;
    }
    psLine->append(2 * nBackslashes, '\\');
    psLine->push_back('"');
}

// A pipe whose one end (the child's) is inheritable.
bool MakePipe(HANDLE* phRead, HANDLE* phWrite, bool bChildReads) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    if (!CreatePipe(phRead, phWrite, &sa, 0)) return false;
    SetHandleInformation(bChildReads ? *phWrite : *phRead, HANDLE_FLAG_INHERIT, 0);
    return true;
}

int ToDescriptor(HANDLE h, int nFlags) { return _open_osfhandle(reinterpret_cast<intptr_t>(h), nFlags); }

}  // namespace

std::string CommandLineOf(const std::string& sProgram, const std::vector<std::string>& args) {
    std::string sLine;
    AppendQuoted(&sLine, sProgram);
    for (const std::string& sArg : args) AppendQuoted(&sLine, sArg);
    return sLine;
}

// Beside the test program.
std::string HelperPath() {
    char szPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameA(nullptr, szPath, sizeof szPath);
    const std::filesystem::path program(std::string(szPath, cch < sizeof szPath ? cch : 0));
    return (program.parent_path() / "linkbay_platform_helper.exe").string();
}

ChildProcess::ChildProcess(const std::string& sProgram, const std::vector<std::string>& args) {
    HANDLE hInRead = nullptr, hInWrite = nullptr, hOutRead = nullptr, hOutWrite = nullptr;
    if (!MakePipe(&hInRead, &hInWrite, true)) return;
    if (!MakePipe(&hOutRead, &hOutWrite, false)) {
        CloseHandle(hInRead);
        CloseHandle(hInWrite);
        return;
    }
    std::string sLine = CommandLineOf(sProgram, args);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hInRead;
    si.hStdOutput = hOutWrite;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(sProgram.c_str(), &sLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        m_hProcess = pi.hProcess;
        m_pid = static_cast<int>(pi.dwProcessId);
    }
    CloseHandle(hInRead);
    CloseHandle(hOutWrite);
    m_fdIn = ToDescriptor(hInWrite, _O_WRONLY | _O_BINARY);
    m_fdOut = ToDescriptor(hOutRead, _O_RDONLY | _O_BINARY);
}

void ChildProcess::release() {
    if (m_fdOut >= 0) _close(m_fdOut);
    m_fdOut = -1;
    if (m_hProcess != nullptr) CloseHandle(static_cast<HANDLE>(m_hProcess));
    m_hProcess = nullptr;
}

// Anonymous pipes cannot be waited on: peek, and read only what is there.
bool ChildProcess::readMore(long long deadlineMs) {
    const HANDLE hPipe = m_fdOut >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(m_fdOut)) : INVALID_HANDLE_VALUE;
    DWORD cbAvailable = 0;
    const auto peek = [&] { return PeekNamedPipe(hPipe, nullptr, 0, nullptr, &cbAvailable, nullptr) != FALSE; };
    if (!Eventually([&] { return !peek() || cbAvailable > 0; }, deadlineMs - NowMs())) return true;  // nothing yet
    char buffer[512];
    DWORD cb = 0;
    if (cbAvailable == 0 ||  // the pipe has broken
        !ReadFile(hPipe, buffer, cbAvailable < sizeof buffer ? cbAvailable : sizeof buffer, &cb, nullptr) || cb == 0)
        return false;
    m_sPending.append(buffer, cb);
    return true;
}

bool ChildProcess::writeLine(const std::string& sLine) {
    if (m_fdIn < 0) return false;
    const std::string sData = sLine + "\n";
    return _write(m_fdIn, sData.data(), static_cast<unsigned>(sData.size())) == static_cast<int>(sData.size());
}

void ChildProcess::closeInput() {
    if (m_fdIn >= 0) _close(m_fdIn);
    m_fdIn = -1;
}

void ChildProcess::kill() {
    if (m_hProcess != nullptr && m_nExit < 0) TerminateProcess(static_cast<HANDLE>(m_hProcess), kKilledExitCode);
}

int ChildProcess::wait(int nTimeoutMs) {
    if (m_hProcess == nullptr) return -1;
    if (m_nExit >= 0) return m_nExit;
    if (WaitForSingleObject(static_cast<HANDLE>(m_hProcess), static_cast<DWORD>(nTimeoutMs)) != WAIT_OBJECT_0)
        return -1;
    DWORD dwExit = 0;
    if (!GetExitCodeProcess(static_cast<HANDLE>(m_hProcess), &dwExit)) return -1;
    m_nExit = static_cast<int>(dwExit);
    return m_nExit;
}

}  // namespace test
}  // namespace linkbay
