// A simulated instrument program (linkbay-sim) serving one COM port of this
// process and of the processes it starts, driven over its control port. On
// Windows under Wine the program is the native one, started beside the test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "control_client.h"

namespace linkbay {
namespace test {

class ScopedVariable;

class SimulatorProgram {
public:
    // Starts `linkbay-sim FAMILY OPTIONS...` on COMn, in the directory the
    // test's LINKBAY_WINDIR names; the program ends with this object.
    SimulatorProgram(int nPort, const std::vector<std::string>& options = {"--no-pacing"},
                     const std::string& sFamily = "korv");
    ~SimulatorProgram();
    SimulatorProgram(const SimulatorProgram&) = delete;
    SimulatorProgram& operator=(const SimulatorProgram&) = delete;

    bool ready() const { return m_control.connected(); }
    // Why it is not ready, for the test's message.
    const std::string& problem() const { return m_sProblem; }
    // One control command; the reply's lines, the last "ok ..." or "err ...".
    std::string control(const std::string& sLine) { return m_control.command(sLine); }

private:
    std::unique_ptr<ScopedVariable> m_port;
    std::shared_ptr<void> m_process;
    ControlClient m_control;
    uint16_t m_nControlPort = 0;
    std::string m_sProblem;
};

// The platform's part: how the program is started, where COMn must point,
// and paths as the native program sees them.
// Null when it cannot be started; releasing it waits for the program's end
// where the platform can.
std::shared_ptr<void> LaunchSimulator(const std::string& sProgram, const std::vector<std::string>& args);
// The link the program keeps pointed at its device, for COMn; sets what
// makes COMn of this process reach it for as long as *ppBinding lives.
std::string PortLinkForSimulator(int nPort, const std::string& sTestDirectory,
                                 std::unique_ptr<ScopedVariable>* ppBinding);
std::string NativePath(const std::string& sPath);

}  // namespace test
}  // namespace linkbay
