#include <dlfcn.h>

#include "library_loader.h"

namespace linkbay_host {

AddinLibrary::~AddinLibrary() {
    if (m_hModule != nullptr) dlclose(m_hModule);
}

bool AddinLibrary::load(const std::string& sPath) {
    m_hModule = dlopen(sPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_hModule == nullptr) {
        const char* pszError = dlerror();
        m_sError = "cannot load " + sPath + ": " + (pszError ? pszError : "unknown error");
        return false;
    }
    m_pAddin = static_cast<AddinBase*>(dlsym(m_hModule, LINKBAY_EXPORT_NAME));
    if (m_pAddin == nullptr) {
        m_sError = sPath + " does not export " LINKBAY_EXPORT_NAME;
        return false;
    }
    return true;
}

}  // namespace linkbay_host
