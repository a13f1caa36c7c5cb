// The host program as a child process, in an environment of its own.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {

struct HostRun {
    int nExit = -1;
    std::string sOutput;
};

// Children-only tests get a namespace and directory of their own, so a
// process killed here leaves nothing behind in this process's namespace.
struct PrivateEnvironment : ScopedFreshEnvironment {
    ScopedVariable library{"LINKBAY_LIBRARY", LINKBAY_LIBRARY_PATH};
};

inline void WriteIni(const std::string& sDir, const std::string& sText) {
    std::ofstream(sDir + "/DETHUB.INI", std::ios::binary) << sText;
}

// A host process, its debug messages in a file of its own.
inline std::unique_ptr<ChildProcess> StartHost(const std::vector<std::string>& args, const std::string& sDebugLog) {
    ScopedVariable debug("LINKBAY_DEBUG_OUTPUT", sDebugLog);
    return std::make_unique<ChildProcess>(LINKBAY_HOST_PATH, args);
}

// The lines the program prints up to its end (or a blank line), and its exit code.
inline HostRun Finish(ChildProcess& process) {
    HostRun run;
    for (std::string sLine = process.readLine(15000); !sLine.empty(); sLine = process.readLine(15000))
        run.sOutput += sLine + "\n";
    run.nExit = process.wait(15000);
    return run;
}

inline HostRun RunHost(const std::vector<std::string>& args, const std::string& sDebugLog) {
    return Finish(*StartHost(args, sDebugLog));
}

// The same with its standard error in the output, where its failures are said.
inline HostRun RunHostWithErrors(const std::vector<std::string>& args, const std::string& sDebugLog) {
    std::vector<std::string> command{"-c", "exec \"$0\" \"$@\" 2>&1", LINKBAY_HOST_PATH};
    command.insert(command.end(), args.begin(), args.end());
    ScopedVariable debug("LINKBAY_DEBUG_OUTPUT", sDebugLog);
    ChildProcess shell("/bin/sh", command);
    return Finish(shell);
}

}  // namespace test
}  // namespace linkbay
