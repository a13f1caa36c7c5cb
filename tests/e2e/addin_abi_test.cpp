// The built add-in library as hosts see it: the exported object's header and
// every slot of its table called as a C host would.
#include <gtest/gtest.h>

#include <cstddef>
#include <regex>
#include <string>

#include "e2e/loaded_addin.h"
#include "linkbay/addin.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

LinkbayAddinHeader& Header() { return TheAddin().header(); }
LinkbaySelf* Self() { return &Header(); }
template <typename Fn>
Fn Slot(LinkbayOperation op) {
    return reinterpret_cast<Fn>(Header().pOperations[op - 1]);
}
std::string DebugLog() { return TheAddin().debugLog(); }
void WriteIni(const std::string& sText) { TheAddin().writeIni(sText); }

struct FieldOffset {
    const char* pszName;
    size_t nHeader;     // in the C host's view
    size_t nClass;      // in the C++ host's view
    size_t nExpected32;
    size_t nExpected64;
};

// Natural alignment after the table pointer, for 32- and 64-bit builds.
TEST(AddinAbi, HeaderFieldsSitWhereHostsReadThem) {
    const AddinBase* pAddin = &TheAddin().addin();
    const auto at = [pAddin](const void* pField) {
        return static_cast<size_t>(static_cast<const char*>(pField) - reinterpret_cast<const char*>(pAddin));
    };
    const FieldOffset kFields[] = {
        {"m_nFirstMCB", offsetof(LinkbayAddinHeader, m_nFirstMCB), at(&pAddin->m_nFirstMCB), 4, 8},
        {"m_nMCBCount", offsetof(LinkbayAddinHeader, m_nMCBCount), at(&pAddin->m_nMCBCount), 8, 12},
        {"m_nHostValue", offsetof(LinkbayAddinHeader, m_nHostValue), at(&pAddin->m_nHostValue), 12, 16},
        {"m_mutex", offsetof(LinkbayAddinHeader, m_hMutex), at(&pAddin->m_mutex), 16, 24},
        {"m_pMcbTable", offsetof(LinkbayAddinHeader, m_pMcbTable), at(&pAddin->m_pMcbTable), 20, 32},
        {"m_szName", offsetof(LinkbayAddinHeader, m_szName), at(&pAddin->m_szName), 24, 40},
        {"m_pnProcesses", offsetof(LinkbayAddinHeader, m_pnProcesses), at(&pAddin->m_pnProcesses), 40, 56},
    };
    for (const FieldOffset& field : kFields) {
        const size_t nExpected = sizeof(void*) == 4 ? field.nExpected32 : field.nExpected64;
        EXPECT_EQ(field.nHeader, nExpected) << field.pszName;
        EXPECT_EQ(field.nClass, nExpected) << field.pszName;
    }
}

TEST(AddinAbi, HeaderValues) {
    EXPECT_EQ(Header().m_nFirstMCB, 97);
    EXPECT_EQ(Header().m_nMCBCount, 5);
    EXPECT_EQ(Header().m_nHostValue, 1);
    EXPECT_STREQ(Header().m_szName, "RS232");
    EXPECT_NE(Header().m_hMutex, nullptr);
    ASSERT_NE(Header().m_pMcbTable, nullptr);
    ASSERT_NE(Header().m_pnProcesses, nullptr);
}

// Each slot is called through the raw table and recognised by what only
// that operation does, with no instrument configured.
TEST(AddinAbi, EverySlotReachesItsOperation) {
    WriteIni("[CONFIG]\r\nCOM3=Tavo\r\nCOM4=generic\r\n");
    LinkbaySelf* self = Self();
    ASSERT_EQ(Slot<LinkbayOpenFn>(LINKBAY_OP_OPEN)(self), 1);
    EXPECT_EQ(*Header().m_pnProcesses, 1);
    EXPECT_EQ(Header().m_pMcbTable[2].nDeviceType, LINKBAY_DEVICE_TAVO);  // Open read the configuration

    EXPECT_EQ(Slot<LinkbaySetDebugLevelFn>(LINKBAY_OP_SET_DEBUG_LEVEL)(self, 2), 0);
    EXPECT_EQ(Slot<LinkbaySetDebugLevelFn>(LINKBAY_OP_SET_DEBUG_LEVEL)(self, -1), 2);
    EXPECT_EQ(Slot<LinkbaySetDebugLevelFn>(LINKBAY_OP_SET_DEBUG_LEVEL)(self, 0), 2);

    EXPECT_EQ(Slot<LinkbayIsValidDetectorFn>(LINKBAY_OP_IS_VALID_DETECTOR)(self, 97, 1), 0);
    int32_t nLength = 5, nMac = 5, nMic = 5;
    char szResponse[8] = "keep";
    EXPECT_EQ(Slot<LinkbayDialogFn>(LINKBAY_OP_DIALOG)(self, 97, 1, "SHOW_VERS", sizeof szResponse,
                                                       szResponse, &nLength, &nMac, &nMic), 0);
    EXPECT_EQ(std::to_string(nMac) + "/" + std::to_string(nMic) + " " + std::to_string(nLength) + szResponse, "-9/0 0");
    EXPECT_EQ(Slot<LinkbayDialogFn>(LINKBAY_OP_DIALOG)(self, 97, 1, "SHOW_VERS", 0, nullptr, nullptr, nullptr,
                                                       nullptr), 0);  // null pointers are left alone

    const size_t nLogBefore = DebugLog().size();
    EXPECT_EQ(Slot<LinkbayEnumerateDetectorsFn>(LINKBAY_OP_ENUMERATE_DETECTORS)(self), 1);
    EXPECT_NE(DebugLog().find("Linkbay: No detectors for local access\r\n", nLogBefore), std::string::npos);

    Slot<LinkbayNoOperationFn>(LINKBAY_OP_NO_OPERATION)(self, 0xdeadbeef);
    EXPECT_EQ(Slot<LinkbayGetLockFn>(LINKBAY_OP_GET_LOCK)(self, 97, 1, nullptr, 0), 0u);
    Slot<LinkbaySetLockFn>(LINKBAY_OP_SET_LOCK)(self, 97, 1, 42, "lab");
    EXPECT_EQ(Header().m_pMcbTable[0].dwLockId[0], 0u);
    EXPECT_EQ(Slot<LinkbayGetSharedWordFn>(LINKBAY_OP_GET_SHARED_WORD)(self, 97, 1), 0u);
    Slot<LinkbaySetSharedWordFn>(LINKBAY_OP_SET_SHARED_WORD)(self, 97, 1, 7);
    EXPECT_EQ(Header().m_pMcbTable[0].dwSharedWord[0], 0u);

    char szVersion[3] = "AB";
    EXPECT_EQ(Slot<LinkbayGetVersionFn>(LINKBAY_OP_GET_VERSION)(self, 97, szVersion, 3), 0);
    EXPECT_EQ(Slot<LinkbayGetChannelsFn>(LINKBAY_OP_GET_CHANNELS)(self, 97, 1), 0);
    EXPECT_EQ(Slot<LinkbayGetInputCountFn>(LINKBAY_OP_GET_INPUT_COUNT)(self, 97), 0);
    char szValue[8] = "same";
    EXPECT_EQ(Slot<LinkbayGetDataAppFn>(LINKBAY_OP_GET_DATA_APP)(self, 97, 1, "@DESC", "def", szValue, 8), 0);
    EXPECT_STREQ(szValue, "same");
    EXPECT_EQ(Slot<LinkbaySetDataAppFn>(LINKBAY_OP_SET_DATA_APP)(self, 97, 1, "@DESC", "x"), 0);
    int32_t tNow = 5;
    EXPECT_EQ(Slot<LinkbayLocalGetStartTimeFn>(LINKBAY_OP_LOCAL_GET_START_TIME)(self, 97, 1, &tNow), 0);
    EXPECT_EQ(tNow, 0);
    Slot<LinkbayMarkStartTimeFn>(LINKBAY_OP_MARK_START_TIME)(self, 97, 1, 0);
    EXPECT_EQ(Header().m_pMcbTable[0].tStart[0], 0);
    char szDescription[32] = "";
    EXPECT_EQ(Slot<LinkbayGetDescriptionFn>(LINKBAY_OP_GET_DESCRIPTION)(self, 97, 1, szDescription,
                                                                       sizeof szDescription, nullptr), 0);
    EXPECT_STREQ(szDescription, "Invalid Detector");
    uint32_t dwId = 5;
    EXPECT_EQ(Slot<LinkbayGetDetectorIdFn>(LINKBAY_OP_GET_DETECTOR_ID)(self, 97, 1, &dwId, nullptr), 0);
    EXPECT_EQ(dwId, 0u);
    nMac = nMic = 5;
    EXPECT_EQ(Slot<LinkbaySetRoiFn>(LINKBAY_OP_SET_ROI)(self, 97, 1, 10, 20, 0, &nMac, &nMic), -1);
    EXPECT_EQ(nMac, 0);
    nMac = nMic = 5;
    EXPECT_EQ(Slot<LinkbayClearRoiFn>(LINKBAY_OP_CLEAR_ROI)(self, 97, 1, 10, 20, 0, &nMac, &nMic), -1);
    EXPECT_EQ(nMic, 0);
    uint32_t dwMask1 = 5, dwMask2 = 5, dwData[4] = {9, 9, 9, 9};
    EXPECT_EQ(Slot<LinkbayReadSpectrumFn>(LINKBAY_OP_READ_SPECTRUM)(self, 97, 1, &dwMask1, &dwMask2, 0, 0, 4, 0, dwData), -1);
    EXPECT_EQ(dwMask1, 5u);
    EXPECT_EQ(Slot<LinkbayWriteSpectrumFn>(LINKBAY_OP_WRITE_SPECTRUM)(self, 97, 1, 0, 0, 4, 0, dwData), -1);
    int32_t nStatus = 5;
    EXPECT_EQ(Slot<LinkbayIsDetectorActiveFn>(LINKBAY_OP_IS_DETECTOR_ACTIVE)(self, 97, 1, &nStatus), 1);
    EXPECT_EQ(nStatus, -1);
    uint32_t dwFeatures[2] = {3, 3};
    EXPECT_EQ(Slot<LinkbayGetFeaturesFn>(LINKBAY_OP_GET_FEATURES)(self, 97, 1, dwFeatures, 2), 0);
    EXPECT_EQ(dwFeatures[0], 3u);

    Header().m_pMcbTable[0].dwLockId[0] = 99;
    Slot<LinkbayRefreshDetectorInfoFn>(LINKBAY_OP_REFRESH_DETECTOR_INFO)(self);  // no inputs: nothing reloaded
    EXPECT_EQ(Header().m_pMcbTable[0].dwLockId[0], 99u);
    WriteIni("[CONFIG]\r\nCOM1=zeph\r\n");
    Slot<LinkbayReadConfigurationFn>(LINKBAY_OP_READ_CONFIGURATION)(self);
    EXPECT_EQ(Header().m_pMcbTable[0].nDeviceType, LINKBAY_DEVICE_ZEPH);
    EXPECT_EQ(Header().m_pMcbTable[0].dwLockId[0], 0u);  // the table starts afresh
    // Whether COM1 leads anywhere differs between lanes; either way the slot interrogated it.
    const size_t nBeforeOpen = DebugLog().size();
    Slot<LinkbayOpenDetectorsFn>(LINKBAY_OP_OPEN_DETECTORS)(self, 0);
    EXPECT_TRUE(std::regex_search(DebugLog().substr(nBeforeOpen),
                                  std::regex(R"(InterrogateMCB\(\): (Tried to open|Opened) COM1)")));
    Slot<LinkbayCloseDetectorsFn>(LINKBAY_OP_CLOSE_DETECTORS)(self, 0);
    Slot<LinkbayOnLastCloseFn>(LINKBAY_OP_ON_LAST_CLOSE)(self);
    EXPECT_EQ(*Header().m_pnProcesses, 1);

    ASSERT_EQ(Slot<LinkbayCloseFn>(LINKBAY_OP_CLOSE)(self), 1);
    EXPECT_EQ(*Header().m_pnProcesses, 0);

    // Last: the destructor's slot without freeing closes the mutex handle.
    EXPECT_EQ(Slot<LinkbayDestroyFn>(LINKBAY_OP_DESTROY)(self, 0), static_cast<void*>(self));
    EXPECT_EQ(Header().m_hMutex, nullptr);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
