// What the platforms' child processes share: the helper program by default,
// lines, and an end that never leaves a child behind.
#include "child_process.h"

#include "test_env.h"

namespace linkbay {
namespace test {

ChildProcess::ChildProcess(const std::vector<std::string>& args) : ChildProcess(HelperPath(), args) {}

ChildProcess::~ChildProcess() {
    closeInput();
    if (m_pid > 0 && m_nExit < 0 && wait(5000) < 0) {
        kill();
        wait(5000);
    }
    release();
}

std::string ChildProcess::readLine(int nTimeoutMs) {
    const long long deadline = NowMs() + nTimeoutMs;
    for (;;) {
        const size_t nl = m_sPending.find('\n');
        if (nl != std::string::npos) {
            std::string sLine = m_sPending.substr(0, nl);
            m_sPending.erase(0, nl + 1);
            if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
            return sLine;
        }
        if (NowMs() >= deadline) return std::string();
        if (!readMore(deadline)) {
            m_bOutputEnded = true;
            std::string sRest;
            sRest.swap(m_sPending);
            return sRest;
        }
    }
}

}  // namespace test
}  // namespace linkbay
