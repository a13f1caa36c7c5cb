#include "child_process.h"
#include "sim_program.h"
#include "test_env.h"

namespace linkbay {
namespace test {

std::shared_ptr<void> LaunchSimulator(const std::string& sProgram, const std::vector<std::string>& args) {
    auto process = std::make_shared<ChildProcess>(sProgram, args);
    if (!process->started()) return nullptr;
    return process;
}

// A link in the test's directory, and LINKBAY_COMn naming it.
std::string PortLinkForSimulator(int nPort, const std::string& sTestDirectory,
                                 std::unique_ptr<ScopedVariable>* ppBinding) {
    const std::string sLink = sTestDirectory + "/com" + std::to_string(nPort);
    *ppBinding = std::make_unique<ScopedVariable>("LINKBAY_COM" + std::to_string(nPort), sLink);
    return sLink;
}

std::string NativePath(const std::string& sPath) { return sPath; }

}  // namespace test
}  // namespace linkbay
