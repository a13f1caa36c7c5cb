// Levelled debug output and the system's text for the last error. Both use
// stack buffers only, so any thread may call them.
#pragma once

#include <cstdint>

namespace linkbay {

constexpr int32_t kDebugLineSize = 256;
constexpr int32_t kErrorTextSize = 128;

// Messages above this level are dropped; level 0 always passes. Only the
// add-in's SetDebugLevel changes it, and never to a negative value.
extern int32_t g_nDebugLevel;

// printf-style; formatted into kDebugLineSize bytes and handed to the debug
// output when g_nDebugLevel >= nLevel. A longer message is cut to its first
// kDebugLineSize - 1 characters (its line end is then lost) rather than
// dropped, so that the start of a runaway message is still seen.
void DebugPrint(int32_t nLevel, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Fills the buffer with the system text of the calling thread's last error,
// on one line, or makes it empty when there is no text or it does not fit.
// The last error itself is left as it was. Returns pszBuffer.
char* ErrorText(char* pszBuffer, int32_t nSize);

// Writes pszMessage, the last error's text and a line end to the debug
// output, unfiltered: how failing port configuration steps are reported.
void OutputErrorDirect(const char* pszMessage);

}  // namespace linkbay
