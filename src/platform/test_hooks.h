// Seams through which tests observe and steer the platform without sleeping
// or scraping stderr. Production code never calls these.
#pragma once

#include "platform.h"

namespace linkbay {
namespace platform {

// Replaces the clock behind GetTickCount; nullptr restores the real one.
typedef DWORD (*TickSource)(void* pContext);
void SetTickSource(TickSource pfnSource, void* pContext);

// Receives every OutputDebugStringA text instead of the configured sink;
// nullptr restores the sink.
typedef void (*DebugCapture)(const char* pszText, void* pContext);
void SetDebugCapture(DebugCapture pfnCapture, void* pContext);

}  // namespace platform
}  // namespace linkbay
