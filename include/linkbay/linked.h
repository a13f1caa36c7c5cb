/* For hosts that link the add-in library (find_package's Linkbay::linkbay,
 * pkg-config's -llinkbay) instead of loading it at run time: the exported
 * object itself. Its first word is the operations table, as for a loaded
 * add-in; C++ hosts call the operations through LinkbayLinkedAddin().
 */
#ifndef LINKBAY_LINKED_H
#define LINKBAY_LINKED_H

#include "linkbay/addin.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
__declspec(dllimport)
#endif
extern LinkbayAddinHeader AAPI_Addin;

#ifdef __cplusplus
}

inline AddinBase* LinkbayLinkedAddin() { return reinterpret_cast<AddinBase*>(&AAPI_Addin); }
#endif

#endif /* LINKBAY_LINKED_H */
