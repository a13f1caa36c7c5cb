#include "fuzz/sim_fuzz_driver.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "sim/control_words.h"
#include "sim/simulator.h"
#include "sim/wire_log.h"

namespace linkbay {
namespace fuzz {

void Require(bool condition, const char* file, int line) {
    if (condition) return;
    std::fprintf(stderr, "sim fuzz: the check at %s:%d failed\n", file, line);
    __builtin_trap();
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

namespace {

// Decimal, or hexadecimal after 0x: what the control protocol documents.
bool StrictNumber(const std::string& word, uint64_t& value) {
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const size_t first = hex ? 2 : 0;
    if (word.size() <= first || word.size() - first > 16) return false;
    value = 0;
    for (size_t i = first; i < word.size(); ++i) {
        const char c = word[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        const uint64_t base = hex ? 16 : 10;
        if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / base) return false;
        value = value * base + static_cast<uint64_t>(digit);
    }
    return true;
}

// As the serving loop: bytes join what is pending, complete requests are cut
// off the front and answered, and what stays can still become a request.
void FeedWire(const WireFamily& family, sim::Simulator& simulator, std::string& pending, const std::string& bytes,
              bool refuse) {
    simulator.wireLog().record(sim::WireDirection::kIn, bytes.data(), bytes.size());
    pending += bytes;
    simulator.withModel([&](sim::InstrumentModel& model) {
        for (;;) {
            const size_t length = model.requestLength(pending.data(), pending.size());
            Require(length <= pending.size());
            Require(length > 0 || pending.size() <= family.longestPending);
            if (length == 0) break;
            const std::string request = pending.substr(0, length);
            pending.erase(0, length);
            const std::string reply = refuse ? model.rejection(request) : model.answer(request);
            family.checkReply(model, request, reply, refuse);
            simulator.wireLog().record(sim::WireDirection::kOut, reply.data(), reply.size());
        }
    });
}

// ----- Control lines ----------------------------------------------------------

// Data lines starting "+ ", then one closing "ok"/"err" line; every line ends
// with a single '\n', so a client reading lines never loses its place.
void CheckControlReply(const std::string& reply) {
    Require(!reply.empty() && reply.back() == '\n');
    size_t start = 0;
    for (size_t end = reply.find('\n'); end + 1 < reply.size(); end = reply.find('\n', start)) {
        Require(reply.compare(start, 2, "+ ") == 0);
        start = end + 1;
    }
    const std::string last = reply.substr(start);
    Require(last == "ok\n" || StartsWith(last, "ok ") || StartsWith(last, "err "));
}

bool Acquiring(sim::Simulator& simulator) {
    return simulator.withModel([](sim::InstrumentModel& model) { return model.acquiring(); });
}

// What set-counts took is what the model holds; a word it took must have
// been a number as the protocol writes them.
void CheckSetCounts(sim::Simulator& simulator, const std::vector<std::string>& words) {
    uint64_t first = 0;
    Require(StrictNumber(words[1], first));
    std::vector<uint64_t> values;
    for (size_t i = 2; i < words.size(); ++i) {
        uint64_t value = 0;
        Require(StrictNumber(words[i], value) && value <= 0xffffffffULL);
        values.push_back(value);
    }
    if (Acquiring(simulator)) return;
    simulator.withModel([&](sim::InstrumentModel& model) {
        for (size_t i = 0; i < values.size(); ++i) Require(model.count(static_cast<uint32_t>(first + i)) == values[i]);
    });
}

// The counts listed are the model's, as many as asked for.
void CheckCounts(sim::Simulator& simulator, const std::vector<std::string>& words, const std::string& reply) {
    uint64_t first = 0, count = 0;
    Require(StrictNumber(words[1], first) && StrictNumber(words[2], count));
    if (Acquiring(simulator)) return;
    std::string expected;
    simulator.withModel([&](sim::InstrumentModel& model) {
        for (uint64_t channel = first; channel < first + count; ++channel) {
            expected += (expected.empty() ? "" : " ") + std::to_string(model.count(static_cast<uint32_t>(channel)));
        }
    });
    Require(reply == sim::Ok(expected));
}

void RunControl(sim::Simulator& simulator, const std::string& line) {
    const std::string reply = simulator.control(line);
    CheckControlReply(reply);
    const std::vector<std::string> words = sim::SplitWords(line);
    if (!StartsWith(reply, "ok") || words.empty()) return;
    if (words[0] == "set-counts") CheckSetCounts(simulator, words);
    if (words[0] == "counts") CheckCounts(simulator, words, reply);
}

// The control server cuts its input at '\n'.
void FeedControl(sim::Simulator& simulator, const std::string& text) {
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        RunControl(simulator, text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size()) RunControl(simulator, text.substr(start));
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::string text() {
        const size_t length = std::min<size_t>(byte(), m_size - m_pos);
        const std::string result(reinterpret_cast<const char*>(m_data + m_pos), length);
        m_pos += length;
        return result;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace

void RunSimFuzz(const WireFamily& family, const uint8_t* data, size_t size) {
    sim::SimulatorOptions options;
    options.pacing = false;
    options.manualClock = true;
    sim::Simulator simulator(sim::CreateModel(family.model), options);
    std::string pending;
    Reader in(data, size);
    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 4) {
        case 0: FeedWire(family, simulator, pending, in.text(), false); break;
        case 1: FeedWire(family, simulator, pending, in.text(), true); break;
        case 2: FeedControl(simulator, in.text()); break;
        default: {
            const uint32_t low = in.byte();
            simulator.advanceClock(low | static_cast<uint32_t>(in.byte()) << 8);
        }
        }
    }
}

}  // namespace fuzz
}  // namespace linkbay
