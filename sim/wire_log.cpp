#include "sim/wire_log.h"

#include <algorithm>

namespace linkbay {
namespace sim {

WireLog::WireLog(size_t capacity) : m_start(std::chrono::steady_clock::now()), m_capacity(1) {
    setCapacity(capacity);
}

void WireLog::setCapacity(size_t capacity) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = std::min(std::max<size_t>(capacity, 1), kMaxCapacity);
    trimLocked();
}

size_t WireLog::capacity() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_capacity;
}

size_t WireLog::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

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
    while (m_entries.size() > m_capacity || (m_bytes > kMaxBytes && m_entries.size() > 1)) {
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

}  // namespace sim
}  // namespace linkbay
