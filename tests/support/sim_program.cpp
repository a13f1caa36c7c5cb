#include "sim_program.h"

#include <cstdio>
#include <cstdlib>

#include "file_text.h"
#include "test_env.h"

namespace linkbay {
namespace test {

namespace {

constexpr int kStartLimitMs = 15000;
const char kControlPrefix[] = "control 127.0.0.1:";
const char kTokenPrefix[] = "token ";

// The control port from the start-up lines; 0 when there is none yet.
int ControlPortIn(const std::string& sText) {
    const size_t at = sText.find(kControlPrefix);
    return at == std::string::npos ? 0 : std::atoi(sText.c_str() + at + sizeof kControlPrefix - 1);
}

// The word of the start-up line that begins with the prefix, or "".
std::string LineValue(const std::string& sText, const char* pszPrefix) {
    const std::string sPrefix = std::string("\n") + pszPrefix;
    const size_t at = ("\n" + sText).find(sPrefix);
    if (at == std::string::npos) return std::string();
    const size_t begin = at + sPrefix.size() - 1;
    return sText.substr(begin, sText.find('\n', begin) - begin);
}

// LINKBAY_SIM_PROGRAM, else the one built beside the tests (none on Windows:
// the Wine lane names the native one).
std::string SimulatorProgramPath() {
    const char* pszPath = getenv("LINKBAY_SIM_PROGRAM");
    if (pszPath != nullptr && *pszPath != '\0') return pszPath;
#ifdef LINKBAY_SIM_PATH
    return LINKBAY_SIM_PATH;
#else
    return std::string();
#endif
}

std::string TestDirectory() {
    const char* pszDir = getenv("LINKBAY_WINDIR");
    return pszDir != nullptr && *pszDir != '\0' ? pszDir : ".";
}

}  // namespace

// The program reports through a file rather than its output, which a
// Windows process does not get from a native program under Wine. It ends
// when the control connection closes, so a test that dies leaves none behind.
SimulatorProgram::SimulatorProgram(int nPort, const std::vector<std::string>& options, const std::string& sFamily) {
    const std::string sDir = TestDirectory();
    const std::string sReady = sDir + "/sim-com" + std::to_string(nPort) + ".ready";
    std::remove(sReady.c_str());
    std::vector<std::string> args{sFamily, "--link", PortLinkForSimulator(nPort, sDir, &m_port),
                                  "--ready-file", NativePath(sReady), "--exit-on-disconnect", "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    const std::string sProgram = SimulatorProgramPath();
    if (sProgram.empty()) {
        m_sProblem = "no simulator program: set LINKBAY_SIM_PROGRAM to the native linkbay-sim";
        return;
    }
    m_process = LaunchSimulator(sProgram, args);
    if (!m_process) {
        m_sProblem = "cannot start " + sProgram;
        return;
    }
    int nControlPort = 0;
    std::string sStartLines;
    Eventually([&] { return (nControlPort = ControlPortIn(sStartLines = ReadRaw(sReady).value_or(""))) != 0; },
               kStartLimitMs);
    std::remove(sReady.c_str());
    if (nControlPort == 0) {
        m_sProblem = sProgram + " did not start within " + std::to_string(kStartLimitMs) + " ms";
    } else if (!m_control.connect(static_cast<uint16_t>(nControlPort), LineValue(sStartLines, kTokenPrefix))) {
        m_sProblem = "cannot connect to the simulator's control port " + std::to_string(nControlPort) +
                     " with the token of its start-up lines";
    } else {
        m_nControlPort = static_cast<uint16_t>(nControlPort);
    }
}

// Closing the control connection ends the program. The next simulator on
// the same port must not have its link removed by this one on its way out,
// so wait until the control port is closed: the program removes its link
// before that.
SimulatorProgram::~SimulatorProgram() {
    m_control.disconnect();
    if (m_nControlPort != 0) {
        Eventually([&] { return !ControlClient().connect(m_nControlPort); }, kStartLimitMs);
    }
    m_process.reset();
    m_port.reset();
}

}  // namespace test
}  // namespace linkbay
