#include "addin/guess.h"

namespace linkbay {

void LocalGuessFeatures(const char*, int32_t, uint32_t* pdwFeatures, int32_t nWords) {
    for (int32_t k = 0; pdwFeatures != nullptr && k < nWords; ++k) pdwFeatures[k] = 0;
}

void LocalGuessMasks(const char*, int32_t, uint32_t* pdwMask1, uint32_t* pdwMask2) {
    if (pdwMask1 != nullptr) *pdwMask1 = 0x7fffffffu;
    if (pdwMask2 != nullptr) *pdwMask2 = 0x80000000u;
}

}  // namespace linkbay
