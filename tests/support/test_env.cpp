#include "test_env.h"

#include "platform/posix/object_directory.h"
#include "platform/test_hooks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace linkbay {
namespace test {

std::string ProfileDirectory() {
    const char* pszDir = getenv("LINKBAY_WINDIR");
    return pszDir != nullptr ? pszDir : std::string();
}

void SetVariable(const std::string& sName, const std::string& sValue) { setenv(sName.c_str(), sValue.c_str(), 1); }
void UnsetVariable(const std::string& sName) { unsetenv(sName.c_str()); }

bool Applies(Holds) { return true; }  // this is the POSIX layer

// For names of letters only, which the layer does not encode, as the
// namespaces UseFreshEnvironment makes; empty when there is no directory.
std::string ObjectFileName(const char* pszKind, const char* pszName) {
    char szWhyNot[512];
    const int fd = platform::posix::OpenObjectDirectory(szWhyNot, sizeof szWhyNot);
    if (fd < 0) return std::string();
    char szDirectory[4096];
    const ssize_t cch = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), szDirectory, sizeof szDirectory - 1);
    close(fd);
    if (cch <= 0) return std::string();
    const char* pszNamespace = getenv("LINKBAY_IPC_NAMESPACE");
    return std::string(szDirectory, static_cast<size_t>(cch)) + "/" + pszKind + "." +
           (pszNamespace != nullptr ? pszNamespace : "") + "." + pszName;
}

bool ObjectFileExists(const char* pszKind, const char* pszName) {
    const std::string sPath = ObjectFileName(pszKind, pszName);
    return !sPath.empty() && access(sPath.c_str(), F_OK) == 0;
}

bool UseDuplicateByReopen(bool bOn) {
    platform::SetDuplicateMethod(bOn ? platform::DuplicateMethod::Reopen : platform::DuplicateMethod::Automatic);
    return true;
}

}  // namespace test
}  // namespace linkbay
