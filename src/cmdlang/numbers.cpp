#include "cmdlang/numbers.h"

#include <cctype>

namespace linkbay {

namespace {

constexpr uint64_t kAbove32Bits = 0x100000000ull;

struct Decimal {
    bool bNegative;
    uint64_t nMagnitude;  // stops growing once it passes 32 bits
    const char* pEnd;
};

Decimal ReadDecimal(const char* psz) {
    const char* p = psz;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-') bNegative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p))) return {false, 0, psz};
    uint64_t nMagnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (nMagnitude < kAbove32Bits) nMagnitude = nMagnitude * 10 + static_cast<uint64_t>(*p - '0');
    }
    return {bNegative, nMagnitude, p};
}

}  // namespace

uint32_t ToUnsigned32(const char* psz, const char** ppEnd) {
    const Decimal number = ReadDecimal(psz);
    if (ppEnd != nullptr) *ppEnd = number.pEnd;
    if (number.nMagnitude >= kAbove32Bits) return 0xFFFFFFFFu;
    const uint32_t nValue = static_cast<uint32_t>(number.nMagnitude);
    return number.bNegative ? 0u - nValue : nValue;
}

int32_t ToSigned32(const char* psz, const char** ppEnd) {
    const Decimal number = ReadDecimal(psz);
    if (ppEnd != nullptr) *ppEnd = number.pEnd;
    const int64_t nValue = number.bNegative ? -static_cast<int64_t>(number.nMagnitude)
                                            : static_cast<int64_t>(number.nMagnitude);
    if (nValue > INT32_MAX) return INT32_MAX;
    if (nValue < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(nValue);
}

}  // namespace linkbay
