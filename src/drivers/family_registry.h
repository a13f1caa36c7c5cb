// The driver side of every instrument family, bound by device type to the
// family's public row (include/linkbay/families.h): its command set and how
// its driver object is made. Discovery, the add-in's driver factory, the
// fuzz targets and the table checks read it.
#pragma once

#include <cstdint>

#include "cmdlang/command_set.h"
#include "linkbay/families.h"

namespace linkbay {

class RS232CI;

struct FamilyDriver {
    int32_t nDeviceType;               // LINKBAY_DEVICE_*
    const CommandSet* pCommandSet;     // the family's vocabulary; empty for GENERIC
    RS232CI* (*pfnCreate)(int32_t nMcb);  // null: no driver in this build
    bool (*pfnHasAction)(int32_t nCode);  // null: no command translation in this build
};

extern const FamilyDriver kFamilyDrivers[];
extern const int32_t kFamilyDriverCount;

// The row of a device type, or null for one no family has.
const FamilyDriver* FindFamilyDriver(int32_t nDeviceType);

}  // namespace linkbay
