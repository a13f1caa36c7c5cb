#include <fstream>
#include <sstream>

#include "debug_sink.h"
#include "test_env.h"

namespace linkbay {
namespace test {

DebugSink& DebugSink::Start(const std::string& sDir) {
    static DebugSink s_sink(sDir);
    return s_sink;
}

DebugSink::DebugSink(const std::string& sDir) : m_sPath(sDir + "/debug.log") {
    SetVariable("LINKBAY_DEBUG_OUTPUT", m_sPath);
}

std::string DebugSink::text() const {
    std::ifstream file(m_sPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace test
}  // namespace linkbay
