// Where the host program finds the add-in and the simulators: beside itself
// in a build tree, or where the installation put them.
#include <limits.h>
#include <unistd.h>

#include "library_loader.h"

namespace linkbay_host {

std::string ProgramDirectory(const char* pszArgv0) {
    // argv[0] names no directory when the program was found on PATH.
    char szProgram[PATH_MAX] = {};
    const ssize_t cch = readlink("/proc/self/exe", szProgram, sizeof szProgram - 1);
    const std::string sProgram = cch > 0 ? std::string(szProgram, static_cast<size_t>(cch))
                                         : std::string(pszArgv0 != nullptr ? pszArgv0 : "");
    const size_t nSlash = sProgram.rfind('/');
    return nSlash == std::string::npos ? "." : sProgram.substr(0, nSlash);
}

std::string DefaultLibraryPath(const char* pszArgv0) {
    const std::string sDir = ProgramDirectory(pszArgv0);
    for (const std::string& sPath : {sDir + "/" LINKBAY_ADDIN_SONAME,
                                     sDir + "/" LINKBAY_LIBDIR_FROM_BINDIR "/" LINKBAY_ADDIN_SONAME}) {
        if (access(sPath.c_str(), F_OK) == 0) return sPath;
    }
    return LINKBAY_ADDIN_SONAME;
}

}  // namespace linkbay_host
