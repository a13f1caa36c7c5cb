// Another process for multi-process tests: the platform helper program,
// spoken to through its standard input and output, one line at a time.
#pragma once

#include <string>
#include <vector>

namespace linkbay {
namespace test {

class ChildProcess {
public:
    // Starts the helper program with the arguments given, in this process's environment.
    explicit ChildProcess(const std::vector<std::string>& args);
    // Starts another program the same way.
    ChildProcess(const std::string& sProgram, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    int pid() const { return m_pid; }
    // The next line the child prints, without its line feed; empty on time-out or exit.
    std::string readLine(int nTimeoutMs = 10000);
    // The child's output has closed and every line of it has been read.
    bool outputEnded() const { return m_bOutputEnded && m_sPending.empty(); }
    bool writeLine(const std::string& sLine);
    // Closes the child's input: helpers take that as the signal to finish.
    void closeInput();
    void kill();  // SIGKILL
    // Waits for the exit and returns the exit code (128 + signal when killed), -1 on time-out.
    int wait(int nTimeoutMs = 10000);

private:
    // The platform's part: appends what the child wrote by the deadline (on
    // NowMs' clock) to m_sPending; false once there is nothing more to wait for.
    bool readMore(long long deadlineMs);
    // Lets go of the child's output and of the process.
    void release();

    int m_pid = -1;
    int m_fdIn = -1;
    int m_fdOut = -1;
    int m_nExit = -1;
    void* m_hProcess = nullptr;  // Windows: the process object, kept so its id stays its own
    std::string m_sPending;
    bool m_bOutputEnded = false;
};

// Windows: the command line that hands a program these arguments, quoted
// as the C runtime reads them back.
std::string CommandLineOf(const std::string& sProgram, const std::vector<std::string>& args);

// Path of the platform helper program built beside the tests.
std::string HelperPath();

}  // namespace test
}  // namespace linkbay
