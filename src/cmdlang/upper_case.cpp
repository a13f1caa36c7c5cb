#include "cmdlang/upper_case.h"

namespace linkbay {
namespace {

constexpr uint8_t kCaseDistance = 0x20;

struct CasePair {
    uint8_t cLower;
    uint8_t cUpper;
};

// The lower-case letters of the code page whose capital is not 0x20 below.
constexpr CasePair kIrregularPairs[] = {
    {0x9A, 0x8A},  // s caron
    {0x9C, 0x8C},  // oe
    {0x9E, 0x8E},  // z caron
    {0xFF, 0x9F},  // y diaeresis
};

bool IsRegularLower(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);  // 0xF7: division sign
}

}  // namespace

uint8_t UpperCaseCp1252(uint8_t c) {
    if (IsRegularLower(c)) return static_cast<uint8_t>(c - kCaseDistance);
    for (const CasePair& pair : kIrregularPairs) {
        if (pair.cLower == c) return pair.cUpper;
    }
    return c;
}

void UpperCaseCp1252(char* psz, size_t cch) {
    for (size_t i = 0; i < cch; ++i)
        psz[i] = static_cast<char>(UpperCaseCp1252(static_cast<uint8_t>(psz[i])));
}

}  // namespace linkbay
