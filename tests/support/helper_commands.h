// Commands of the platform helper program, in tables per area.
#pragma once

#include <string>

namespace linkbay {
namespace test {

struct HelperCommand {
    const char* pszName;
    int (*pfnRun)(int argc, char** argv);
};

// Each table ends with a row whose name is null.
extern const HelperCommand kPortCommands[];
extern const HelperCommand kIpcCommands[];
extern const HelperCommand kProfileCommands[];

// Blocks until standard input closes: the test's signal to finish.
void WaitForInputToClose();
// Reads one line from standard input; false at its end.
bool ReadInputLine(std::string* psLine);

}  // namespace test
}  // namespace linkbay
