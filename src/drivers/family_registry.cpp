#include "drivers/family_registry.h"

#include <new>

#include "drivers/korv/korv_tables.h"
#include "drivers/korv/korvci.h"
#include "drivers/mmcmd/mmcmd_tables.h"
#include "drivers/mmcmd/mmcmdci.h"
#include "drivers/zeph/zeph_tables.h"
#include "drivers/zeph/zephci.h"
#include "serial/genci.h"

namespace linkbay {
namespace {

constexpr CommandSet kNoCommands{};

template <class Driver>
RS232CI* Create(int32_t nMcb) {
    return new (std::nothrow) Driver(nMcb);
}

}  // namespace

const FamilyDriver kFamilyDrivers[] = {
    {LINKBAY_DEVICE_KORV, &kKorvCommandSet, Create<KORVCI>, KORVCI::HasAction},
    {LINKBAY_DEVICE_ZEPH, &kZephCommandSet, Create<ZEPHCI>, ZEPHCI::HasAction},
    {LINKBAY_DEVICE_PELLUX, &kMmcmdCommandSet, Create<PELLUXCI>, MMCMDCI::HasAction},
    {LINKBAY_DEVICE_TAVO, &kMmcmdCommandSet, Create<TAVOCI>, MMCMDCI::HasAction},
    {LINKBAY_DEVICE_GENERIC, &kNoCommands, Create<GENCI>, nullptr},
};

const int32_t kFamilyDriverCount = static_cast<int32_t>(sizeof kFamilyDrivers / sizeof kFamilyDrivers[0]);

static_assert(sizeof kFamilyDrivers / sizeof kFamilyDrivers[0] == sizeof kLinkbayFamilies / sizeof kLinkbayFamilies[0],
              "every family has a public row and a driver row");

const FamilyDriver* FindFamilyDriver(int32_t nDeviceType) {
    for (const FamilyDriver& family : kFamilyDrivers) {
        if (family.nDeviceType == nDeviceType) return &family;
    }
    return nullptr;
}

}  // namespace linkbay
