// Loads the add-in library the way every host does: by file name at run
// time, then the exported object by name.
#pragma once

#include <string>

#include "linkbay/addin.h"

namespace linkbay_host {

class AddinLibrary {
public:
    AddinLibrary() = default;
    ~AddinLibrary();
    AddinLibrary(const AddinLibrary&) = delete;
    AddinLibrary& operator=(const AddinLibrary&) = delete;

    // False with a message in error() when the library or its object is missing.
    bool load(const std::string& sPath);
    AddinBase* addin() const { return m_pAddin; }
    const LinkbayAddinHeader* header() const { return reinterpret_cast<const LinkbayAddinHeader*>(m_pAddin); }
    const std::string& error() const { return m_sError; }

private:
    void* m_hModule = nullptr;
    AddinBase* m_pAddin = nullptr;
    std::string m_sError;
};

// The library beside the running program, where the build puts it; on
// POSIX systems else where the installation puts it, else its soname, which
// the loader looks for on its own search path.
std::string DefaultLibraryPath(const char* pszArgv0);

// POSIX: the directory of the running program, also when it was found on PATH.
std::string ProgramDirectory(const char* pszArgv0);

}  // namespace linkbay_host
