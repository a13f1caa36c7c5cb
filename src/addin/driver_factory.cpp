#include "addin/driver_factory.h"

#include <new>

#include "linkbay/addin.h"
#include "drivers/korv/korvci.h"
#include "serial/genci.h"

namespace linkbay {
namespace {

DriverFactory g_pfnTestFactory = nullptr;

}  // namespace

void SetDriverFactoryForTesting(DriverFactory pfnFactory) { g_pfnTestFactory = pfnFactory; }

// Families whose drivers are not part of this build yet are configured but
// get no driver, so their ports are opened, found driverless and released.
RS232CI* CreateDriver(int32_t nDeviceType, int32_t nMcb) {
    if (g_pfnTestFactory != nullptr) return g_pfnTestFactory(nDeviceType, nMcb);
    switch (nDeviceType) {
    case LINKBAY_DEVICE_GENERIC: return new (std::nothrow) GENCI(nMcb);
    case LINKBAY_DEVICE_KORV: return new (std::nothrow) KORVCI(nMcb);
    default: return nullptr;
    }
}

}  // namespace linkbay
