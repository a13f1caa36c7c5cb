// C-style escapes (\r, \n, \\, \xNN) for logs and the control protocol:
// the simulator writes them, its clients (native or Windows programs) read
// them back. Header-only, so that any program can use it without the
// simulator's library.
#pragma once

#include <cstdio>
#include <string>

namespace linkbay {
namespace sim {

// The value of one hexadecimal digit, -1 for any other character.
inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Printable bytes as they are, the others escaped.
inline std::string EscapeBytes(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': text += "\\r"; break;
        case '\n': text += "\\n"; break;
        case '\\': text += "\\\\"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                text += static_cast<char>(c);
            } else {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                text += hex;
            }
        }
    }
    return text;
}

// The reverse of EscapeBytes; false on a malformed escape.
inline bool UnescapeBytes(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
        case 'r': bytes += '\r'; break;
        case 'n': bytes += '\n'; break;
        case '\\': bytes += '\\'; break;
        case 'x': {
            const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) return false;
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

}  // namespace sim
}  // namespace linkbay
