// The built add-in library, loaded once per test process after the
// process's own IPC namespace and Windows directory are set, since the
// library opens its shared area and mutex when it loads.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "library_loader.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {

struct LoadedAddin {
    linkbay_host::AddinLibrary library;
    std::string sDir;       // LINKBAY_WINDIR of this process and its children
    std::string sDebugLog;  // where the library's debug output goes

    AddinBase& addin() { return *library.addin(); }
    LinkbayAddinHeader& header() { return *const_cast<LinkbayAddinHeader*>(library.header()); }
    std::string debugLog() const {
        std::ifstream file(sDebugLog, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void writeIni(const std::string& sText) const {
        std::ofstream(sDir + "/DETHUB.INI", std::ios::binary) << sText;
    }
};

inline LoadedAddin& TheAddin() {
    static LoadedAddin* s_pAddin = [] {
        auto* pAddin = new LoadedAddin;
        pAddin->sDir = UseFreshEnvironment();
        pAddin->sDebugLog = pAddin->sDir + "/debug.log";
        setenv("LINKBAY_DEBUG_OUTPUT", pAddin->sDebugLog.c_str(), 1);
        setenv("LINKBAY_LIBRARY", LINKBAY_LIBRARY_PATH, 1);
        if (!pAddin->library.load(LINKBAY_LIBRARY_PATH)) abort();
        return pAddin;
    }();
    return *s_pAddin;
}

}  // namespace test
}  // namespace linkbay
