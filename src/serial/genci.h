// The driver of GENERIC MCBs: holds and configures a port, answers no command.
#pragma once

#include <cstdint>

#include "serial/rs232ci.h"

namespace linkbay {

class GENCI : public RS232CI {
public:
    explicit GENCI(int32_t nMCB);

    // Stores the port (an earlier one is not closed) and sets 9600 baud 8N1
    // with the generic queues and time-outs. A failing step is reported on
    // the debug output and ends the configuration; the port stays stored.
    void Attach(HANDLE hPort) override;
    // Detector 1: true with status kStatusNoAnswer (nothing can be asked of
    // the unit); any other: false with kStatusNotServed.
    bool IsActive(int32_t nDet, int32_t* pnStatus) override;
    // Serves no line, whatever the detector: mac -1, nothing else written.
    bool ExecLine(int32_t nDet, const char* pszLine, int32_t nRespSize, char* pszResp,
                  int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) override;
    int32_t ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                     uint32_t* pdwDest) override;
    int32_t WriteData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                      uint32_t dwConfMask, const uint32_t* pdwSource) override;

protected:
    bool ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp,
                 int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) override;
};

}  // namespace linkbay
