// The driver object of a configured instrument family.
#pragma once

#include <cstdint>

namespace linkbay {

class RS232CI;

// A new driver for the family (LINKBAY_DEVICE_*) with the MCB number, or
// null for a family that has no driver in this build.
RS232CI* CreateDriver(int32_t nDeviceType, int32_t nMcb);

// Tests use this to identify instruments no built driver can imitate: while
// a factory is set, CreateDriver returns what it makes (a heap object the
// add-in deletes). nullptr restores the real drivers. Production code never
// calls it.
typedef RS232CI* (*DriverFactory)(int32_t nDeviceType, int32_t nMcb);
void SetDriverFactoryForTesting(DriverFactory pfnFactory);

}  // namespace linkbay
