#include "serial/port_setup.h"

namespace linkbay {

const char* const kPortSetupCalls[kSetupDone] = {"SetupComm", "SetCommTimeouts", "GetCommState",
                                                 "SetCommState"};

namespace {

void Set8N1(DCB& dcb, DWORD dwBaud) {
    dcb.BaudRate = dwBaud;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}

}  // namespace

PortSetupStep ApplyPortSetup(HANDLE hPort, const PortSetup& setup) {
    if (!SetupComm(hPort, setup.dwInQueue, setup.dwOutQueue)) return kSetupQueues;
    COMMTIMEOUTS timeouts = setup.timeouts;
    if (!SetCommTimeouts(hPort, &timeouts)) return kSetupTimeouts;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(hPort, &dcb)) return kSetupReadState;
    Set8N1(dcb, setup.dwBaud);
    if (!SetCommState(hPort, &dcb)) return kSetupWriteState;
    return kSetupDone;
}

}  // namespace linkbay
