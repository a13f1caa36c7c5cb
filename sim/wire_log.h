// Every byte that crosses the line, in order, with the time it crossed.
#pragma once

#include <chrono>
#include <deque>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/byte_escapes.h"

namespace linkbay {
namespace sim {

enum class WireDirection : char { kIn = '<', kOut = '>', kEvent = '!' };

struct WireEntry {
    uint64_t sequence = 0;  // position in the log since it was created
    uint64_t timeUs = 0;    // microseconds since the simulator started
    WireDirection direction = WireDirection::kIn;
    std::string bytes;      // the bytes, or the event's name
};

// A ring of the last entries: past its capacity, or past kMaxBytes of bytes,
// the oldest go, so a simulator left running for days stays within bounds
// (a paced reply is many small entries); sequence numbers show the gap.
class WireLog {
public:
    static constexpr size_t kMaxBytes = 16u << 20;
    static constexpr size_t kDefaultCapacity = 65536;
    static constexpr size_t kMaxCapacity = 1u << 24;

    explicit WireLog(size_t capacity = kDefaultCapacity);
    // Entries kept at most (1 to kMaxCapacity); the oldest go at once.
    void setCapacity(size_t capacity);
    size_t capacity() const;
    size_t size() const;
    void record(WireDirection direction, const char* bytes, size_t count);
    void recordEvent(const std::string& name);
    // Entries with a sequence number at or above since.
    std::vector<WireEntry> since(uint64_t since) const;
    // Bytes of one direction from the entries at or above since, joined.
    std::string bytesSince(uint64_t since, WireDirection direction) const;
    // Sequence number the next entry will get.
    uint64_t nextSequence() const;
    // Forgets the entries; sequence numbers keep counting.
    void clear();

private:
    uint64_t nowUs() const;

    mutable std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_start;
    void trimLocked();

    std::deque<WireEntry> m_entries;
    size_t m_capacity;
    size_t m_bytes = 0;
    uint64_t m_nextSequence = 0;
};

}  // namespace sim
}  // namespace linkbay
