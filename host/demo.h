// linkbay demo: simulated instruments on pseudo-terminals, a private
// configuration and namespace, and the host's commands run against them.
#pragma once

#include <string>

namespace linkbay_host {

// Returns the program's exit code; cleans up everything it started.
int RunDemo(const char* pszArgv0, const std::string& sLibrary);

}  // namespace linkbay_host
