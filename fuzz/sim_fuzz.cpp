// Drives a simulated KORV instrument in process, without a pty, with a mix of
// wire bytes (framed and answered as the serving loop does), control lines
// (through Simulator::control, the control server's entry) and steps of time.
// Beyond the sanitizers it checks that framing consumes noise, that replies
// are well formed and bounded, that control replies end in exactly one
// "ok"/"err" line, and that counts read back as they were set.
//
// Input: a sequence of steps, each an op byte, then
//   op % 4 == 0: a length byte and that many wire bytes, answered;
//   op % 4 == 1: the same, refused (as a planned 'reject' fault does);
//   op % 4 == 2: a length byte and that much control text, cut at '\n';
//   op % 4 == 3: two bytes, little-endian, of milliseconds to advance (longer
//                steps, up to the hour the protocol allows, come as 'advance' lines).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/control_words.h"
#include "sim/instrument_model.h"
#include "sim/korv_model.h"
#include "sim/simulator.h"
#include "sim/wire_log.h"

namespace {

using namespace linkbay;

constexpr size_t kLongestRequest = sim::KorvModel::kMaxRequest;
// The largest legal reply is the spectrum transfer: 'announce' allows up to
// 65535 channels at 4 bytes each, after two header lines and a format word.
constexpr uint64_t kMaxAnnounced = 65535;
constexpr size_t kTransferHeadroom = 64;
constexpr size_t kMaxReply = kTransferHeadroom + kMaxAnnounced * 4;
// Every other reply is one short line.
constexpr size_t kMaxLineReply = 64;
constexpr char kTransferHeader[] = "fb SPECTRUM\r\nCHANNELS ";

void Require(bool condition, int line = __builtin_LINE()) {
    if (condition) return;
    std::fprintf(stderr, "sim_fuzz: the check on line %d failed\n", line);
    __builtin_trap();
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

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

// ----- The wire -------------------------------------------------------------

// Header, count line, format word, then exactly the counts the model holds,
// little-endian, saturated at the width.
void CheckTransfer(const sim::InstrumentModel& model, const std::string& reply) {
    size_t pos = sizeof kTransferHeader - 1;
    uint64_t channels = 0;
    while (pos < reply.size() && reply[pos] >= '0' && reply[pos] <= '9' && channels <= kMaxAnnounced) {
        channels = channels * 10 + static_cast<uint64_t>(reply[pos++] - '0');
    }
    Require(channels <= kMaxAnnounced && reply.compare(pos, 2, "\r\n") == 0);
    pos += 2;
    const std::string format = reply.substr(pos, 4);
    Require(format == "0100" || format == "0200" || format == "0400");
    pos += 4;
    const uint32_t width = static_cast<uint32_t>(format[1] - '0');
    Require(reply.size() == pos + channels * width);
    const uint64_t ceiling = width == 4 ? 0xffffffffULL : (1ULL << (8 * width)) - 1;
    for (uint32_t channel = 0; channel < channels; ++channel) {
        uint64_t value = 0;
        for (uint32_t byte = 0; byte < width; ++byte) {
            value |= static_cast<uint64_t>(static_cast<unsigned char>(reply[pos++])) << (8 * byte);
        }
        Require(value == std::min<uint64_t>(model.count(channel), ceiling));
    }
}

// The integral: the counts of the defined ROIs, or of all channels without
// any, summed here channel by channel.
void CheckIntegral(const sim::InstrumentModel& model, const std::string& reply) {
    const auto& korv = dynamic_cast<const sim::KorvModel&>(model);
    uint64_t total = 0;
    bool anyRoi = false;
    for (size_t slot = 0; slot < sim::KorvModel::kRoiSlots; ++slot) {
        const sim::KorvModel::RoiSlot& roi = korv.roi(slot);
        if (!roi.defined) continue;
        anyRoi = true;
        for (uint32_t channel = roi.start; channel <= roi.end; ++channel) total += model.count(channel);
    }
    for (uint32_t channel = 0; !anyRoi && channel < sim::KorvModel::kChannels; ++channel) total += model.count(channel);
    Require(reply == "80 " + std::to_string(std::min<uint64_t>(total, 0xffffffffULL)) + "\r\n");
}

void CheckWireReply(const sim::InstrumentModel& model, const std::string& reply) {
    Require(reply.size() <= kMaxReply);
    if (StartsWith(reply, kTransferHeader)) {
        CheckTransfer(model, reply);
        return;
    }
    Require(reply.size() >= 2 && reply.size() <= kMaxLineReply);
    Require(reply.compare(reply.size() - 2, 2, "\r\n") == 0);
    Require(reply.find_first_of("\r\n") == reply.size() - 2);
    if (StartsWith(reply, "80 ")) CheckIntegral(model, reply);
}

// As the serving loop: bytes join what is pending, complete requests are cut
// off the front and answered, and what stays can still become a request.
void FeedWire(sim::Simulator& simulator, std::string& pending, const std::string& bytes, bool refuse) {
    simulator.wireLog().record(sim::WireDirection::kIn, bytes.data(), bytes.size());
    pending += bytes;
    simulator.withModel([&](sim::InstrumentModel& model) {
        for (;;) {
            const size_t length = model.requestLength(pending.data(), pending.size());
            Require(length <= pending.size());
            Require(length > 0 || pending.size() <= kLongestRequest);
            if (length == 0) break;
            const std::string request = pending.substr(0, length);
            pending.erase(0, length);
            const std::string reply = refuse ? model.rejection(request) : model.answer(request);
            CheckWireReply(model, reply);
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

// ----- The whole input --------------------------------------------------------

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::SimulatorOptions options;
    options.pacing = false;
    options.manualClock = true;
    sim::Simulator simulator(sim::CreateModel("korv"), options);
    std::string pending;
    Reader in(data, size);
    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 4) {
        case 0: FeedWire(simulator, pending, in.text(), false); break;
        case 1: FeedWire(simulator, pending, in.text(), true); break;
        case 2: FeedControl(simulator, in.text()); break;
        default: {
            const uint32_t low = in.byte();
            simulator.advanceClock(low | static_cast<uint32_t>(in.byte()) << 8);
        }
        }
    }
    return 0;
}
