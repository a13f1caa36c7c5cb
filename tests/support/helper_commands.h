// Commands of the platform helper program, one function each: the
// arguments after the command's name in, the exit code out.
#pragma once

#include <string>

namespace linkbay {
namespace test {

int OpenPortCommand(int argc, char** argv);    // helper_ports.cpp
int LockMutexCommand(int argc, char** argv);   // helper_ipc.cpp
int MapCommand(int argc, char** argv);
int ChurnCommand(int argc, char** argv);
int ProfileWriteLoopCommand(int argc, char** argv);  // helper_profile.cpp
int ProfileWriteKeysCommand(int argc, char** argv);
int ProfilePeakMemoryCommand(int argc, char** argv);

// Blocks until standard input closes: the test's signal to finish.
void WaitForInputToClose();
// Reads one line from standard input; false at its end.
bool ReadInputLine(std::string* psLine);

}  // namespace test
}  // namespace linkbay
