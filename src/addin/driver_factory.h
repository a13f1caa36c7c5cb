// The driver object of a configured instrument family.
#pragma once

#include <cstdint>

namespace linkbay {

class RS232CI;

// A new driver for the family (LINKBAY_DEVICE_*) with the MCB number, or
// null for a family that has no driver in this build.
RS232CI* CreateDriver(int32_t nDeviceType, int32_t nMcb);

}  // namespace linkbay
