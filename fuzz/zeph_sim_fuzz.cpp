// The simulated ZEPH instrument under the simulator fuzz driver
// (sim_fuzz_driver.h): every reply is a whole frame or, for noise, nothing;
// a refusal carries nothing but its trailer; the status frame's state agrees
// with the run, and a block carries exactly the counts the model holds.
#include <cstdint>
#include <string>

#include "fuzz/sim_fuzz_driver.h"
#include "sim/zeph_model.h"

namespace {

using namespace linkbay;
using fuzz::Require;
using Zeph = sim::ZephModel;

constexpr uint16_t kStatusCode = 0x5A, kBlockCode = 0x5B;

uint32_t Le(const std::string& bytes, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
    return value;
}

bool HasSyncWord(const std::string& bytes) { return bytes.find("\xA5\x5A") != std::string::npos; }

void CheckStatus(const sim::InstrumentModel& model, const std::string& reply) {
    const uint32_t state = Le(reply, 130, 2);
    Require(state == Zeph::kIdle || state == Zeph::kRunning || state == Zeph::kStopped || state == Zeph::kPresetReached);
    Require((state == Zeph::kRunning) == model.acquiring());
    const uint32_t gain = Le(reply, 38, 2);
    Require(gain >= 128 && gain <= 4096 && (gain & (gain - 1)) == 0);
}

void CheckBlock(const sim::InstrumentModel& model, uint32_t first, const std::string& reply) {
    for (uint32_t i = 0; i < Zeph::kBlockChannels; ++i) Require(Le(reply, 2 + 4 * i, 4) == model.count(first + i));
}

void CheckReply(const sim::InstrumentModel& model, const std::string& request, const std::string& reply, bool refused) {
    if (reply.empty()) {
        // Noise alone: no sync word in it, and long enough to be dropped.
        Require(!refused && !HasSyncWord(request) && request.size() > Zeph::kMaxNoise);
        return;
    }
    Require(reply.size() == Zeph::kReplyBytes && reply.compare(0, 2, "\xA5\x5A") == 0);
    const uint32_t trailer = Le(reply, Zeph::kTrailerOffset, 2);
    if (trailer == Zeph::kRefused) {
        Require(reply.find_first_not_of('\0', 2) == Zeph::kTrailerOffset);
        return;
    }
    Require(!refused && trailer == 0 && request.size() >= Zeph::kRequestBytes);
    const std::string frame = request.substr(request.size() - Zeph::kRequestBytes);
    const uint32_t code = Le(frame, 2, 2);
    if (code == kStatusCode) CheckStatus(model, reply);
    if (code == kBlockCode) CheckBlock(model, Le(frame, 4, 2), reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::WireFamily kZeph = {"zeph", Zeph::kMaxNoise + Zeph::kRequestBytes - 1, CheckReply};
    fuzz::RunSimFuzz(kZeph, data, size);
    return 0;
}
