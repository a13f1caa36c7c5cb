// Faults planned for chosen exchanges (one request and its reply).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace linkbay {
namespace sim {

enum class FaultKind {
    kNone,       // the exchange runs normally
    kSilence,    // no answer at all
    kShort,      // only the first bytes of the answer
    kStall,      // part of the answer, a pause longer than an interval time-out, the rest
    kGarbage,    // bytes that are no answer, without a line end
    kReject,     // the family's rejection instead of the answer
    kHangUp,     // the line drops and comes back after a while
    kReply,      // bytes of the test's choosing instead of the answer
};

struct Fault {
    FaultKind kind = FaultKind::kNone;
    // Short: bytes kept (0: half). Stall: pause in ms (0: 1500).
    // Garbage: bytes sent (0: 24). Hang-up: ms until the line returns (0: 500).
    uint32_t amount = 0;
    // Reply: the bytes sent instead of the answer; braced, so that {kind, amount}
    // still initialises every member.
    std::string bytes{};
};

// Names as the control protocol spells them: silence, short, stall, garbage,
// reject, hangup, reply. False for an unknown name.
bool ParseFaultKind(const std::string& name, FaultKind& kind);
const char* FaultKindName(FaultKind kind);

class FaultPlan {
public:
    // Exchange numbers count from 1 since the simulator started.
    void plan(uint64_t exchange, Fault fault);
    // Takes the fault planned for the exchange (kNone when none).
    Fault take(uint64_t exchange);
    void clear();
    size_t pending() const;

private:
    mutable std::mutex m_mutex;
    std::map<uint64_t, Fault> m_faults;
};

}  // namespace sim
}  // namespace linkbay
