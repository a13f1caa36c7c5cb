#include "sim/wire_log.h"

#include <cstdio>

namespace linkbay {
namespace sim {

WireLog::WireLog() : m_start(std::chrono::steady_clock::now()) {}

uint64_t WireLog::nowUs() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - m_start)
                                     .count());
}

void WireLog::record(WireDirection direction, const char* bytes, size_t count) {
    if (count == 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(WireEntry{m_nextSequence++, nowUs(), direction, std::string(bytes, count)});
    m_bytes += count;
    trimLocked();
}

void WireLog::trimLocked() {
    while (m_bytes > kMaxBytes && m_entries.size() > 1) {
        m_bytes -= m_entries.front().bytes.size();
        m_entries.pop_front();
    }
}

void WireLog::recordEvent(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(WireEntry{m_nextSequence++, nowUs(), WireDirection::kEvent, name});
    m_bytes += name.size();
    trimLocked();
}

std::vector<WireEntry> WireLog::since(uint64_t since) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<WireEntry> result;
    for (const WireEntry& entry : m_entries) {
        if (entry.sequence >= since) result.push_back(entry);
    }
    return result;
}

std::string WireLog::bytesSince(uint64_t since, WireDirection direction) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string result;
    for (const WireEntry& entry : m_entries) {
        if (entry.sequence >= since && entry.direction == direction) result += entry.bytes;
    }
    return result;
}

uint64_t WireLog::nextSequence() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nextSequence;
}

void WireLog::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_bytes = 0;
}

std::string EscapeBytes(const std::string& bytes) {
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

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool UnescapeBytes(const std::string& text, std::string& bytes) {
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
