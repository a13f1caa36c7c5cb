#include "serial/debug_output.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace linkbay {

int32_t g_nDebugLevel = 0;

void DebugPrint(int32_t nLevel, const char* pszFormat, ...) {
    if (g_nDebugLevel < nLevel || pszFormat == nullptr) return;
    char szLine[kDebugLineSize];
    va_list args;
    va_start(args, pszFormat);
    // vsnprintf never writes past the buffer and always terminates it.
    const int nWritten = vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    if (nWritten < 0) return;  // an encoding error leaves nothing worth showing
    OutputDebugStringA(szLine);
}

char* ErrorText(char* pszBuffer, int32_t nSize) {
    const DWORD dwError = GetLastError();
    if (pszBuffer == nullptr || nSize <= 0) return pszBuffer;
    // One line: the maximum-width mode turns the text's line breaks into blanks.
    const DWORD dwFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    const DWORD dwLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    const DWORD cch = FormatMessageA(dwFlags, nullptr, dwError, dwLanguage, pszBuffer,
                                     static_cast<DWORD>(nSize), nullptr);
    if (cch == 0) pszBuffer[0] = '\0';
    SetLastError(dwError);
    return pszBuffer;
}

void OutputErrorDirect(const char* pszMessage) {
    // The error text first: writing the message could change the last error.
    char szError[kErrorTextSize];
    ErrorText(szError, sizeof szError);
    OutputDebugStringA(pszMessage);
    OutputDebugStringA(szError);
    OutputDebugStringA("\r\n");
}

}  // namespace linkbay
