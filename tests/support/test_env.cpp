#include "test_env.h"

#include "platform/test_hooks.h"

#include <fcntl.h>
#include <sys/mman.h>
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
// namespaces UseFreshEnvironment makes.
std::string ObjectFileName(const char* pszKind, const char* pszName) {
    const char* pszNamespace = getenv("LINKBAY_IPC_NAMESPACE");
    return "/linkbay." + std::to_string(geteuid()) + "." + (pszNamespace != nullptr ? pszNamespace : "") + "." +
           pszKind + "." + pszName;
}

bool ObjectFileExists(const char* pszKind, const char* pszName) {
    const int fd = shm_open(ObjectFileName(pszKind, pszName).c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

bool UseDuplicateByReopen(bool bOn) {
    platform::SetDuplicateMethod(bOn ? platform::DuplicateMethod::Reopen : platform::DuplicateMethod::Automatic);
    return true;
}

}  // namespace test
}  // namespace linkbay
