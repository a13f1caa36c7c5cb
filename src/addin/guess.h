// What the add-in assumes about an instrument before asking it. A host
// library may know more; this stand-alone build guesses conservatively.
#pragma once

#include <cstdint>

namespace linkbay {

// Fills nWords feature words for the instrument of that version: none known.
void LocalGuessFeatures(const char* pszVersion, int32_t nDet, uint32_t* pdwFeatures, int32_t nWords);
// Fills the two channel-word masks with what every driver of this library
// reports: counts in bits 0-30, the region-of-interest flag in bit 31.
void LocalGuessMasks(const char* pszVersion, int32_t nDet, uint32_t* pdwMask1, uint32_t* pdwMask2);

}  // namespace linkbay
