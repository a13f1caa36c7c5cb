// What both platforms' test environments share.
#include <chrono>
#include <cstdlib>

#include "test_env.h"

namespace linkbay {
namespace test {

ScopedVariable::ScopedVariable(const std::string& sName, const std::string& sValue) : m_sName(sName) {
    const char* pszOld = getenv(sName.c_str());
    m_bHadValue = pszOld != nullptr;
    if (m_bHadValue) m_sOld = pszOld;
    SetVariable(sName, sValue);
}

ScopedVariable::~ScopedVariable() {
    if (m_bHadValue)
        SetVariable(m_sName, m_sOld);
    else
        UnsetVariable(m_sName);
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace test
}  // namespace linkbay
