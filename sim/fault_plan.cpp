#include "sim/fault_plan.h"

namespace linkbay {
namespace sim {

namespace {
struct FaultName {
    FaultKind kind;
    const char* name;
};
const FaultName kFaultNames[] = {
    {FaultKind::kNone, "none"},       {FaultKind::kSilence, "silence"},
    {FaultKind::kShort, "short"},     {FaultKind::kStall, "stall"},
    {FaultKind::kGarbage, "garbage"}, {FaultKind::kReject, "reject"},
    {FaultKind::kHangUp, "hangup"},   {FaultKind::kReply, "reply"},
};
}  // namespace

bool ParseFaultKind(const std::string& name, FaultKind& kind) {
    for (const FaultName& entry : kFaultNames) {
        if (name == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

const char* FaultKindName(FaultKind kind) {
    for (const FaultName& entry : kFaultNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "?";
}

void FaultPlan::plan(uint64_t exchange, Fault fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults[exchange] = fault;
}

Fault FaultPlan::take(uint64_t exchange) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_faults.find(exchange);
    if (found == m_faults.end()) return Fault{};
    const Fault fault = found->second;
    m_faults.erase(found);
    return fault;
}

void FaultPlan::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

size_t FaultPlan::pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults.size();
}

}  // namespace sim
}  // namespace linkbay
