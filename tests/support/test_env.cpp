#include "test_env.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

namespace linkbay {
namespace test {

std::string UseFreshEnvironment() {
    static int s_nCount = 0;
    const std::string sTag = "t" + std::to_string(getpid()) + "_" + std::to_string(++s_nCount);
    setenv("LINKBAY_IPC_NAMESPACE", sTag.c_str(), 1);
    const char* pszTmp = getenv("TMPDIR");
    std::string sTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/linkbay-" + sTag + "-XXXXXX";
    const char* pszDir = mkdtemp(sTemplate.data());
    if (pszDir != nullptr) setenv("LINKBAY_WINDIR", pszDir, 1);
    return pszDir != nullptr ? std::string(pszDir) : std::string();
}

std::string ProfileDirectory() {
    const char* pszDir = getenv("LINKBAY_WINDIR");
    return pszDir != nullptr ? pszDir : std::string();
}

void SetVariable(const std::string& sName, const std::string& sValue) { setenv(sName.c_str(), sValue.c_str(), 1); }
void UnsetVariable(const std::string& sName) { unsetenv(sName.c_str()); }

bool Applies(Holds holds) { return true; }  // this is the POSIX layer

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace test
}  // namespace linkbay
