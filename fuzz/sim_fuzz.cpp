// The simulated KORV instrument under the simulator fuzz driver
// (sim_fuzz_driver.h): its replies are well formed and bounded lines, the
// transfer carries exactly the counts the model holds, and the integral is
// the sum of the counts.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/sim_fuzz_driver.h"
#include "sim/korv_model.h"

namespace {

using namespace linkbay;
using fuzz::Require;
using fuzz::StartsWith;

// The largest legal reply is the spectrum transfer: 'announce' allows up to
// 65535 channels at 4 bytes each, after two header lines and a format word.
constexpr uint64_t kMaxAnnounced = 65535;
constexpr size_t kTransferHeadroom = 64;
constexpr size_t kMaxReply = kTransferHeadroom + kMaxAnnounced * 4;
// Every other reply is one short line.
constexpr size_t kMaxLineReply = 64;
constexpr char kTransferHeader[] = "fb SPECTRUM\r\nCHANNELS ";

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::WireFamily kKorv = {"korv", sim::KorvModel::kMaxRequest,
                                           [](const sim::InstrumentModel& model, const std::string&,
                                              const std::string& reply, bool) { CheckWireReply(model, reply); }};
    fuzz::RunSimFuzz(kKorv, data, size);
    return 0;
}
