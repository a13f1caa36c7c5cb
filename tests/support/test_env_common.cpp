// What both platforms' test environments share.
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "test_env.h"

namespace linkbay {
namespace test {

std::string UseFreshEnvironment() {
    static int s_nCount = 0;
    const std::string sTag = "t" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++s_nCount);
    SetVariable("LINKBAY_IPC_NAMESPACE", sTag);
    std::error_code error;
    const std::string sBase = (std::filesystem::temp_directory_path(error) / ("linkbay-" + sTag + "-")).string();
    for (int nTry = 0; nTry < 100; ++nTry) {  // past what an earlier process of the same id left
        const std::string sDir = sBase + std::to_string(nTry);
        if (std::filesystem::create_directory(sDir, error)) {
            SetVariable("LINKBAY_WINDIR", sDir);
            return sDir;
        }
    }
    return std::string();
}

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
