#include <iostream>

#include "helper_commands.h"

namespace linkbay {
namespace test {

void WaitForInputToClose() {
    std::string sLine;
    while (ReadInputLine(&sLine)) {
    }
}

bool ReadInputLine(std::string* psLine) { return static_cast<bool>(std::getline(std::cin, *psLine)); }

}  // namespace test
}  // namespace linkbay
