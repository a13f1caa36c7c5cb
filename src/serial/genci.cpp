#include "serial/genci.h"

namespace linkbay {
namespace {

constexpr CommandSet kNoCommands{};
constexpr DWORD kQueueBytes = 1024;

// Interval 1000 ms, 5 ms per byte asked, writes give up after 5 s.
constexpr COMMTIMEOUTS kGenericTimeouts = {1000, 5, 0, 0, 5000};

// One configuration step. The DCB carries the line state from the read step
// to the write step.
struct SetupStep {
    const char* pszFailure;  // the first part of the failure report
    BOOL (*pfnRun)(HANDLE hPort, DCB& dcb);
};

BOOL SizeQueues(HANDLE hPort, DCB&) { return SetupComm(hPort, kQueueBytes, kQueueBytes); }

BOOL SetTimeouts(HANDLE hPort, DCB&) {
    COMMTIMEOUTS timeouts = kGenericTimeouts;
    return SetCommTimeouts(hPort, &timeouts);
}

BOOL ReadLineState(HANDLE hPort, DCB& dcb) { return RS232CI::ReadLineState(hPort, dcb); }

BOOL WriteGenericLineState(HANDLE hPort, DCB& dcb) {
    return RS232CI::WriteLineState8N1(hPort, dcb, CBR_9600);
}

const SetupStep kSetupSteps[] = {
    {"GENCI::Attach(): Error in SetupComm():\r\n    ", SizeQueues},
    {"GENCI::Attach(): Error in SetCommTimeouts():\r\n    ", SetTimeouts},
    {"GENCI::Attach(): Error in GetCommState():\r\n    ", ReadLineState},
    {"GENCI::Attach(): Error in SetCommState():\r\n    ", WriteGenericLineState},
};

}  // namespace

GENCI::GENCI(int32_t nMCB) : RS232CI(kNoCommands, nMCB) {}

void GENCI::Attach(HANDLE hPort) {
    m_hPort = hPort;
    DCB dcb{};
    for (const SetupStep& step : kSetupSteps) {
        if (!step.pfnRun(m_hPort, dcb)) {
            OutputErrorDirect(step.pszFailure);
            return;
        }
    }
}

bool GENCI::IsActive(int32_t nDet, int32_t* pnStatus) {
    const bool bServed = nDet == kServedDetector;
    if (pnStatus != nullptr) *pnStatus = bServed ? kGenericActiveStatus : kStatusNotServed;
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

int32_t GENCI::ReadData(int32_t, int32_t, int32_t, int32_t, uint32_t*) { return 1; }

int32_t GENCI::WriteData(int32_t, int32_t, int32_t, int32_t, uint32_t, const uint32_t*) {
    return 1;
}

}  // namespace linkbay
