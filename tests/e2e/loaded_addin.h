// The built add-in library, loaded once per test process after the
// process's own IPC namespace and Windows directory are set, since the
// library opens its shared area and mutex when it loads.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "library_loader.h"
#include "platform/platform.h"
#include "support/debug_sink.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {

struct LoadedAddin {
    linkbay_host::AddinLibrary library;
    std::string sDir;  // LINKBAY_WINDIR of this process and its children
    DebugSink* pDebug = nullptr;

    AddinBase& addin() { return *library.addin(); }
    LinkbayAddinHeader& header() { return *const_cast<LinkbayAddinHeader*>(library.header()); }
    std::string debugLog() const { return pDebug->text(); }
    static std::string iniPath() { return ProfileDirectory() + "/DETHUB.INI"; }
    void writeIni(const std::string& sText) const {
        std::ofstream(iniPath(), std::ios::binary) << sText;
    }
};

// A key of MCB 97's detector 1 in DETHUB.INI, read the way the library
// reads it, wherever the platform keeps the file; "(none)" when missing.
inline std::string StoredValue(const char* pszKey) {
    char szValue[512] = "";
    GetPrivateProfileStringA("M97S01", pszKey, "(none)", szValue, sizeof szValue, "DETHUB.INI");
    return szValue;
}

inline LoadedAddin& TheAddin() {
    static LoadedAddin* s_pAddin = [] {
        auto* pAddin = new LoadedAddin;
        pAddin->sDir = UseFreshEnvironment();
        pAddin->pDebug = &DebugSink::Start(pAddin->sDir);
        SetVariable("LINKBAY_LIBRARY", LINKBAY_LIBRARY_PATH);
        if (!pAddin->library.load(LINKBAY_LIBRARY_PATH)) abort();
        return pAddin;
    }();
    return *s_pAddin;
}

// A family's simulator program on COM1 and the add-in opened on it, for one
// test; Base is the test class (a parameterised one, or the plain one).
template <class Base = ::testing::Test>
class InstrumentOnCom1 : public Base {
protected:
    void OpenOn(const std::string& sFamily) {
        TheAddin();  // the test's directory first: the simulator starts in it
        m_pSim = std::make_unique<SimulatorProgram>(1, std::vector<std::string>{"--no-pacing"}, sFamily);
        ASSERT_TRUE(m_pSim->ready()) << m_pSim->problem();
        TheAddin().writeIni("[CONFIG]\r\nCOM1=" + sFamily + "\r\n");
        ASSERT_TRUE(TheAddin().addin().Open());
        m_bOpen = true;
        ASSERT_TRUE(TheAddin().addin().IsValidDetector(97, 1));
    }
    void TearDown() override {
        if (m_bOpen) TheAddin().addin().Close();
    }
    std::string sim(const std::string& sCommand) { return m_pSim->control(sCommand); }

    std::unique_ptr<SimulatorProgram> m_pSim;
    bool m_bOpen = false;
};

}  // namespace test
}  // namespace linkbay
