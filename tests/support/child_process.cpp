#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace linkbay {
namespace test {

std::string HelperPath() { return LINKBAY_HELPER_PATH; }

ChildProcess::ChildProcess(const std::vector<std::string>& args) : ChildProcess(HelperPath(), args) {}

ChildProcess::ChildProcess(const std::string& sProgram, const std::vector<std::string>& args) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::vector<std::string> argv = {sProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    m_fdIn = toChild[1];
    m_fdOut = fromChild[0];
}

ChildProcess::~ChildProcess() {
    closeInput();
    if (m_pid > 0 && m_nExit < 0 && wait(5000) < 0) {
        kill();
        wait(5000);
    }
    if (m_fdOut >= 0) close(m_fdOut);
}

std::string ChildProcess::readLine(int nTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        const size_t nl = m_sPending.find('\n');
        if (nl != std::string::npos) {
            std::string sLine = m_sPending.substr(0, nl);
            m_sPending.erase(0, nl + 1);
            return sLine;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_fdOut < 0) return std::string();
        pollfd pfd{m_fdOut, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[512];
        const ssize_t cb = read(m_fdOut, buffer, sizeof buffer);
        if (cb <= 0) return std::string();
        m_sPending.append(buffer, static_cast<size_t>(cb));
    }
}

bool ChildProcess::writeLine(const std::string& sLine) {
    if (m_fdIn < 0) return false;
    const std::string sData = sLine + "\n";
    return write(m_fdIn, sData.data(), sData.size()) == static_cast<ssize_t>(sData.size());
}

void ChildProcess::closeInput() {
    if (m_fdIn >= 0) close(m_fdIn);
    m_fdIn = -1;
}

void ChildProcess::kill() {
    if (m_pid > 0 && m_nExit < 0) ::kill(m_pid, SIGKILL);
}

int ChildProcess::wait(int nTimeoutMs) {
    if (m_pid <= 0) return -1;
    if (m_nExit >= 0) return m_nExit;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_nExit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_nExit;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace test
}  // namespace linkbay
