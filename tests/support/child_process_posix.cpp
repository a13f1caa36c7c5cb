// Children started with posix_spawn, their standard input and output on pipes.
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"
#include "test_env.h"

extern char** environ;

namespace linkbay {
namespace test {

std::string HelperPath() { return LINKBAY_HELPER_PATH; }

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

void ChildProcess::release() {
    if (m_fdOut >= 0) close(m_fdOut);
    m_fdOut = -1;
}

bool ChildProcess::readMore(long long deadlineMs) {
    if (m_fdOut < 0) return false;
    pollfd pfd{m_fdOut, POLLIN, 0};
    const long long msLeft = deadlineMs - NowMs();
    if (poll(&pfd, 1, msLeft > 0 ? static_cast<int>(msLeft) : 0) <= 0) return true;
    char buffer[512];
    const ssize_t cb = read(m_fdOut, buffer, sizeof buffer);
    if (cb <= 0) return false;
    m_sPending.append(buffer, static_cast<size_t>(cb));
    return true;
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
    int status = 0;
    pid_t done = 0;
    if (!Eventually([&] { return (done = waitpid(m_pid, &status, WNOHANG)) != 0; }, nTimeoutMs) || done != m_pid)
        return -1;
    m_nExit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_nExit;
}

}  // namespace test
}  // namespace linkbay
