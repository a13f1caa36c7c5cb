// What both ends of the pty peers' control connection agree on: the native
// linkbay-pty-peers (tools/pty_peers.cpp) and the Windows test peer
// (tests/support/pty_peer_win32.cpp). Bytes travel as pairs of hex digits.
// Header-only: the Windows side has no simulator library.
#pragma once

#include <cstddef>
#include <string>

#include "sim/byte_escapes.h"

namespace linkbay {
namespace sim {
namespace peer_protocol {

// Bytes one write or read request moves at most; longer runs take several.
constexpr size_t kMaxTransfer = 65536;

inline std::string ToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string sHex;
    sHex.reserve(2 * bytes.size());
    for (const unsigned char c : bytes) {
        sHex.push_back(kDigits[c >> 4]);
        sHex.push_back(kDigits[c & 15]);
    }
    return sHex;
}

// False, with *pBytes untouched, unless sHex is whole pairs of hex digits.
inline bool FromHex(const std::string& sHex, std::string* pBytes) {
    if (sHex.size() % 2 != 0) return false;
    std::string bytes;
    bytes.reserve(sHex.size() / 2);
    for (size_t i = 0; i < sHex.size(); i += 2) {
        const int nHigh = HexDigit(sHex[i]), nLow = HexDigit(sHex[i + 1]);
        if (nHigh < 0 || nLow < 0) return false;
        bytes.push_back(static_cast<char>(nHigh << 4 | nLow));
    }
    pBytes->append(bytes);
    return true;
}

}  // namespace peer_protocol
}  // namespace sim
}  // namespace linkbay
