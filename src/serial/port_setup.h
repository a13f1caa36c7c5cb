// How a driver sets its port up, as data: queue sizes, time-outs and the line
// speed, applied in one order by one function.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace linkbay {

struct PortSetup {
    DWORD dwInQueue;
    DWORD dwOutQueue;
    COMMTIMEOUTS timeouts;
    // 8 data bits, no parity, one stop bit, binary mode with the parity flag
    // set; flow control and every other field stay as the port had them.
    DWORD dwBaud;
};

// The steps in the order they run; kSetupDone when all of them passed.
enum PortSetupStep : int32_t {
    kSetupQueues,
    kSetupTimeouts,
    kSetupReadState,
    kSetupWriteState,
    kSetupDone,
};

// The Win32 call behind each step, as failure reports name it.
extern const char* const kPortSetupCalls[kSetupDone];

// Runs the steps and stops at the first that fails, leaving its error as the
// thread's last error for the caller's report. Returns that step.
PortSetupStep ApplyPortSetup(HANDLE hPort, const PortSetup& setup);

}  // namespace linkbay
