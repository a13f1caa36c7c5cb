#include "debug_sink.h"
#include "file_text.h"
#include "test_env.h"

namespace linkbay {
namespace test {

DebugSink::DebugSink(const std::string& sDir) : m_sPath(sDir + "/debug.log") {
    SetVariable("LINKBAY_DEBUG_OUTPUT", m_sPath);
}

std::string DebugSink::text() const { return ReadRaw(m_sPath).value_or(std::string()); }

}  // namespace test
}  // namespace linkbay
