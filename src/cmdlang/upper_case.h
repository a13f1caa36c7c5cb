// Upper case of Windows code page 1252 text, as the system's CharUpperBuffA
// gives it for that code page, so that command words read alike on every
// platform and need no call into the system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linkbay {

uint8_t UpperCaseCp1252(uint8_t c);
// Upper-cases the first cch characters in place.
void UpperCaseCp1252(char* psz, size_t cch);

}  // namespace linkbay
