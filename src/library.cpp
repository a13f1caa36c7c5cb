// The add-in library's one exported object and its entry point.
#include "addin/addin_state.h"
#include "addin/linkbay.h"
#include "platform/library_entry.h"

LINKBAY_LIBRARY_ENTRY(linkbay::OnProcessAttach)

LINKBAY_EXPORTED_DATA linkbay::Linkbay AAPI_Addin;
linkbay::Linkbay AAPI_Addin;
