#include "serial/genci.h"

#include "serial/port_setup.h"

namespace linkbay {
namespace {

constexpr CommandSet kNoCommands{};

// 1 KB queues; interval 1000 ms, 5 ms per byte asked, writes give up after 5 s.
constexpr PortSetup kGenericPort = {1024, 1024, {1000, 5, 0, 0, 5000}, CBR_9600};

// The first part of each step's failure report.
const char* const kSetupFailures[kSetupDone] = {
    "GENCI::Attach(): Error in SetupComm():\r\n    ",
    "GENCI::Attach(): Error in SetCommTimeouts():\r\n    ",
    "GENCI::Attach(): Error in GetCommState():\r\n    ",
    "GENCI::Attach(): Error in SetCommState():\r\n    ",
};

}  // namespace

GENCI::GENCI(int32_t nMCB) : RS232CI(kNoCommands, nMCB) {}

void GENCI::Attach(HANDLE hPort) {
    m_hPort = hPort;
    const PortSetupStep failed = ApplyPortSetup(m_hPort, kGenericPort);
    if (failed != kSetupDone) OutputErrorDirect(kSetupFailures[failed]);
}

bool GENCI::IsActive(int32_t nDet, int32_t* pnStatus) {
    const bool bServed = nDet == kServedDetector;
    if (pnStatus != nullptr) *pnStatus = bServed ? kStatusNoAnswer : kStatusNotServed;
    return bServed;
}

bool GENCI::ExecLine(int32_t, const char*, int32_t, char*, int32_t*, int32_t* pnMac, int32_t*) {
    return RefuseLine(pnMac);
}

// Unreachable through ExecLine above; kept so the answer stays the same if
// it were ever called directly.
bool GENCI::ExecCmd(ParsedCommand&, int32_t, char*, int32_t*, int32_t* pnMac, int32_t*) {
    return RefuseLine(pnMac);
}

int32_t GENCI::ReadData(int32_t, int32_t, int32_t, int32_t, uint32_t*) { return kOpDone; }

int32_t GENCI::WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) {
    return kOpDone;
}

}  // namespace linkbay
