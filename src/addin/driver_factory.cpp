#include "addin/driver_factory.h"

#include "drivers/family_registry.h"

namespace linkbay {
namespace {

DriverFactory g_pfnTestFactory = nullptr;

}  // namespace

void SetDriverFactoryForTesting(DriverFactory pfnFactory) { g_pfnTestFactory = pfnFactory; }

// Families whose drivers are not part of this build yet are configured but
// get no driver, so their ports are opened, found driverless and released.
RS232CI* CreateDriver(int32_t nDeviceType, int32_t nMcb) {
    if (g_pfnTestFactory != nullptr) return g_pfnTestFactory(nDeviceType, nMcb);
    const FamilyDriver* pFamily = FindFamilyDriver(nDeviceType);
    return pFamily != nullptr && pFamily->pfnCreate != nullptr ? pFamily->pfnCreate(nMcb) : nullptr;
}

}  // namespace linkbay
