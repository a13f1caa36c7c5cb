// Decimal text to 32-bit numbers as the C runtime of the shipping 32-bit
// library reads it (strtoul and strtol with a 32-bit long), alike on every
// platform: where long is wider, the runtime would keep or cut what an
// instrument or a file sends beyond 32 bits instead.
#pragma once

#include <cstdint>

namespace linkbay {

// strtoul: leading white space, an optional sign, decimal digits. A
// magnitude beyond 32 bits gives 0xFFFFFFFF; a minus sign negates modulo
// 2^32 (the Windows runtimes differ only on a minus sign before a magnitude
// beyond 32 bits). *ppEnd, when asked, is past the digits, or psz without any.
uint32_t ToUnsigned32(const char* psz, const char** ppEnd = nullptr);
// strtol: the same text, held to -2^31 .. 2^31 - 1.
int32_t ToSigned32(const char* psz, const char** ppEnd = nullptr);

}  // namespace linkbay
