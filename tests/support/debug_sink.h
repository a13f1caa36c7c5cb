// The add-in's debug messages from this process and the processes it
// starts, as one text: a file named by LINKBAY_DEBUG_OUTPUT on the POSIX
// layer, the system's debug-output buffer on Windows.
#pragma once

#include <string>

#include "test_env.h"

namespace linkbay {
namespace test {

// Starts collecting (once a process; later calls return the same sink).
// sDir is where the POSIX layer's file goes.
class DebugSink {
public:
    static DebugSink& Start(const std::string& sDir) {
        static DebugSink s_sink(sDir);
        return s_sink;
    }
    // Everything collected so far.
    std::string text() const;

private:
    explicit DebugSink(const std::string& sDir);
    std::string m_sPath;
};

// What the library wrote to the debug output while f ran. A sink not yet
// started starts in the directory of the test's environment.
template <typename F>
std::string DebugTextOf(F f) {
    const std::string sDir = ProfileDirectory();
    DebugSink& sink = DebugSink::Start(sDir.empty() ? "." : sDir);
    const size_t cchBefore = sink.text().size();
    f();
    return sink.text().substr(cchBefore);
}

}  // namespace test
}  // namespace linkbay
