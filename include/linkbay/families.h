/* The instrument families the add-in knows: one row per family. Discovery
 * reads DETHUB.INI through it, the host names families with it and starts
 * simulators by it, the simulator program takes its model names from it.
 * The driver side of each family (command set, driver object) is bound to
 * the same device type in src/drivers/family_registry.cpp.
 */
#ifndef LINKBAY_FAMILIES_H
#define LINKBAY_FAMILIES_H

#include <stdint.h>

#include "linkbay/addin.h"

typedef struct LinkbayFamily {
    int32_t nDeviceType;        /* LINKBAY_DEVICE_* */
    const char* pszKeyword;     /* found in a "COMn" value of DETHUB.INI */
    const char* pszLibrary;     /* found in the "ComLib" value; null: none */
    const char* pszSimModel;    /* linkbay-sim MODEL; null: no simulated instrument */
    const char* pszDisplayName; /* what a person reads */
} LinkbayFamily;

/* Discovery tests the rows in this order; the first name found wins (so
 * "PELLUX" must come before a keyword it contains, should one ever). */
static const LinkbayFamily kLinkbayFamilies[] = {
    {LINKBAY_DEVICE_KORV, "KORV", "MCBKORV.DLL", "korv", "KORV"},
    {LINKBAY_DEVICE_ZEPH, "ZEPH", "MCBZEPH.DLL", "zeph", "ZEPH"},
    {LINKBAY_DEVICE_PELLUX, "PELLUX", "PELLUX232.DLL", "pellux", "PELLUX"},
    {LINKBAY_DEVICE_TAVO, "TAVO", "TAVO232.DLL", "tavo", "TAVO"},
    {LINKBAY_DEVICE_GENERIC, "GENERIC", 0, 0, "generic"},
};

#define LINKBAY_FAMILY_COUNT ((int32_t)(sizeof kLinkbayFamilies / sizeof kLinkbayFamilies[0]))

/* The row of a device type, or null. */
static inline const LinkbayFamily* LinkbayFindFamily(int32_t nDeviceType) {
    int32_t i;
    for (i = 0; i < LINKBAY_FAMILY_COUNT; ++i) {
        if (kLinkbayFamilies[i].nDeviceType == nDeviceType) return &kLinkbayFamilies[i];
    }
    return 0;
}

#endif
