// DETHUB.INI into the shared MCB table, through the built library's own
// ReadConfiguration operation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"

namespace linkbay {
namespace test {
namespace {

struct ConfigurationCase {
    const char* pszName;
    const char* pszIni;  // null: no file at all
    int32_t nDeviceTypes[LINKBAY_MCB_COUNT];
};

constexpr int32_t N = LINKBAY_DEVICE_NONE;
constexpr int32_t G = LINKBAY_DEVICE_GENERIC;
constexpr int32_t K = LINKBAY_DEVICE_KORV;
constexpr int32_t Z = LINKBAY_DEVICE_ZEPH;
constexpr int32_t P = LINKBAY_DEVICE_PELLUX;
constexpr int32_t T = LINKBAY_DEVICE_TAVO;

const ConfigurationCase kCases[] = {
    {"Example", "[CONFIG]\r\nCOMMCBS=1\r\nComLib=C:\\INSTR\\MCBKORV.DLL\r\nCOM2=Tavo\r\nCOM4=generic\r\n",
     {K, T, K, G, K}},
    {"SubstringAnyCase", "[CONFIG]\r\nCOM1=korv box\r\nCOM2=my zeph\r\nCOM3=Pellux 1\r\nCOM5=GENERIC\r\n",
     {K, Z, P, N, G}},
    {"KorvTestedFirst", "[CONFIG]\r\nCOM1=ZEPHKORV\r\nCOM2=TAVOPELLUX\r\n", {K, P, N, N, N}},
    {"ComLibIgnoredWithoutCommcbs", "[CONFIG]\r\nCOMMCBS=0\r\nComLib=MCBZEPH.DLL\r\nCOM3=korv\r\n",
     {N, N, K, N, N}},
    {"LibraryNameInMixedCase", "[CONFIG]\r\nCOMMCBS=1\r\nComLib=c:\\lib\\pellux232.dll\r\n", {P, P, P, P, P}},
    {"TavoLibrary", "[CONFIG]\r\nCOMMCBS=2\r\nComLib=Tavo232.Dll\r\nCOM1=generic\r\n", {G, T, T, T, T}},
    {"UnknownValueTakesTheLibraryFamily",
     "[CONFIG]\r\nCOMMCBS=1\r\nComLib=MCBZEPH.DLL\r\nCOM2=spectrometer\r\nCOM3=\r\n", {Z, Z, Z, Z, Z}},
    {"UnknownValueWithoutLibrary", "[CONFIG]\r\nCOM2=spectrometer\r\n", {N, N, N, N, N}},
    {"UnknownLibrary", "[CONFIG]\r\nCOMMCBS=1\r\nComLib=OTHER.DLL\r\nCOM4=tavo\r\n", {N, N, N, T, N}},
    {"NoConfigSection", "[M97S01]\r\n@DESC=lab\r\n", {N, N, N, N, N}},
    {"MissingFile", nullptr, {N, N, N, N, N}},
};

class Configuration : public ::testing::TestWithParam<ConfigurationCase> {};

TEST_P(Configuration, FamiliesPerPort) {
    const ConfigurationCase& c = GetParam();
    LoadedAddin& addin = TheAddin();
    const std::string sIni = addin.iniPath();
    if (c.pszIni != nullptr)
        addin.writeIni(c.pszIni);
    else
        std::remove(sIni.c_str());
    McbEntry* pTable = addin.header().m_pMcbTable;
    pTable[0].nInputs = 7;  // reading the configuration starts the table afresh
    addin.addin().ReadConfiguration();
    for (int nPort = 1; nPort <= LINKBAY_MCB_COUNT; ++nPort)
        EXPECT_EQ(pTable[nPort - 1].nDeviceType, c.nDeviceTypes[nPort - 1]) << "COM" << nPort;
    EXPECT_EQ(pTable[0].nInputs, 0);
}

INSTANTIATE_TEST_SUITE_P(Ini, Configuration, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ConfigurationCase>& info) { return info.param.pszName; });

}  // namespace
}  // namespace test
}  // namespace linkbay
