#include "json_text.h"

#include <cstdio>

namespace linkbay_host {
namespace {

// Length of the well-formed UTF-8 sequence at nAt, 0 when there is none.
size_t Utf8Length(const std::string& sText, size_t nAt) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(sText[i]); };
    const unsigned char c = byte(nAt);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || nAt + n > sText.size()) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((byte(nAt + i) & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

std::string JsonString(const std::string& sText) {
    std::string sJson = "\"";
    for (size_t i = 0; i < sText.size();) {
        const unsigned char c = static_cast<unsigned char>(sText[i]);
        const size_t n = Utf8Length(sText, i);
        if (n == 0) {
            sJson += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            sJson += '\\';
            sJson += static_cast<char>(c);
        } else if (c < 0x20) {
            char szEscape[8];
            snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
            sJson += szEscape;
        } else {
            sJson.append(sText, i, n);
        }
        i += n;
    }
    return sJson + "\"";
}

}  // namespace linkbay_host
