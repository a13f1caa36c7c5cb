// The simulated TAVO/PELLUX instrument under the simulator fuzz driver
// (sim_fuzz_driver.h): every reply has exactly the length its frame
// announced, or there is none for noise; a refusal carries nothing but its
// pair; SHOW_ACTIVE and SHOW_STATUS agree with the run, and a block carries
// exactly the counts the model holds.
#include <cstdint>
#include <string>

#include "fuzz/sim_fuzz_driver.h"
#include "sim/mmcmd_model.h"

namespace {

using namespace linkbay;
using fuzz::Require;
using Mmcmd = sim::MmcmdModel;

constexpr uint16_t kShowActive = 93, kShowStatus = 147;

uint32_t Be(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
    return value;
}

// A frame ending the request at `at`: its total length reaches the end, and
// both lengths are in range.
bool FrameAt(const std::string& request, size_t at) {
    if (request.size() - at < Mmcmd::kHeaderBytes || Be(request, at) != request.size() - at) return false;
    const uint32_t reply = Be(request, at + 4);
    return request.size() - at <= Mmcmd::kMaxRequest && reply >= Mmcmd::kMinReply && reply <= Mmcmd::kMaxReply;
}

// The answer's word, or 0 where the reply cut it off.
uint32_t WordOf(const std::string& reply, size_t index) {
    const size_t at = 2 + 4 * index;
    return at + 4 <= reply.size() ? Be(reply, at) : 0;
}

void CheckAnswer(const Mmcmd& model, uint16_t code, const std::string& frame, const std::string& reply) {
    const bool active = model.acquiring();
    if (code == kShowActive && reply.size() >= 6) Require(WordOf(reply, 0) == (active ? 1u : 0u));
    if (code == kShowStatus && reply.size() >= 14) Require(WordOf(reply, 2) == (active ? 1u : 0u));
    if (code != Mmcmd::kReadBlock || frame.size() != Mmcmd::kHeaderBytes + 4) return;
    const uint32_t first = Be(frame, Mmcmd::kHeaderBytes);
    for (uint32_t i = 0; 2 + 4 * (i + 1) <= reply.size() && i < Mmcmd::kBlockChannels; ++i) {
        const uint64_t channel = uint64_t{first} + i;
        Require(WordOf(reply, i) == (channel < model.memory() ? model.count(static_cast<uint32_t>(channel)) : 0u));
    }
}

void CheckReply(const sim::InstrumentModel& instrument, const std::string& request, const std::string& reply, bool refused) {
    const auto& model = dynamic_cast<const Mmcmd&>(instrument);
    size_t at = 0;
    while (at < request.size() && !FrameAt(request, at)) ++at;
    if (reply.empty()) {
        // Noise alone: long enough to be dropped.
        Require(request.size() > Mmcmd::kMaxNoise);
        return;
    }
    Require(at < request.size());
    const std::string frame = request.substr(at);
    Require(reply.size() == Be(frame, 4));
    const bool refusal = reply[0] != 0;
    if (refused) Require(static_cast<uint8_t>(reply[0]) == 131 && static_cast<uint8_t>(reply[1]) == 133);
    if (refusal) {
        Require(reply.find_first_not_of('\0', 2) == std::string::npos);
        return;
    }
    const uint16_t code = static_cast<uint16_t>(static_cast<uint8_t>(frame[8]) | static_cast<uint8_t>(frame[9]) << 8);
    CheckAnswer(model, code, frame, reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::WireFamily kTavo = {"tavo", Mmcmd::kMaxNoise + Mmcmd::kMaxRequest - 1, CheckReply};
    fuzz::RunSimFuzz(kTavo, data, size);
    return 0;
}
