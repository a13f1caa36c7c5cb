// Base class of every instrument driver: the serial port of one MCB, the
// driver interface the add-in calls, and the port primitives.
#pragma once

#include <cstdint>

#include "cmdlang/ci_base.h"
#include "cmdlang/command_set.h"
#include "cmdlang/parser.h"
#include "cmdlang/result_codes.h"
#include "platform/platform.h"
#include "serial/debug_output.h"

namespace linkbay {

// COM port number = MCB number - kMcbPortOffset.
constexpr int32_t kMcbPortOffset = 96;
// The only detector the drivers of this library serve.
constexpr int32_t kServedDetector = 1;

class RS232CI : public CIBase {
public:
    RS232CI(const CommandSet& commandSet, int32_t nMCB);
    // Closes the port if one is held.
    ~RS232CI() override;

    // The driver interface, in slot order. Attach hands over ownership of an
    // open port; the driver stores, configures and later closes it.
    virtual void Attach(HANDLE hPort) = 0;
    virtual void Detach();
    // Detector 1 only: a failed check has closed the port and forgets it.
    virtual bool IsUnitPresent(int32_t nDet);
    virtual bool IsActive(int32_t nDet, int32_t* pnStatus) = 0;
    // Detector 1: parse, then ExecCmd. A rejected line answers true with the
    // parser's error pair; false means the line was not served at all. Null
    // out-pointers are allowed; a null response counts as a 0-byte buffer.
    virtual bool ExecLine(int32_t nDet, const char* pszLine, int32_t nRespSize, char* pszResp,
                          int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic);
    virtual int32_t ReadData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                             uint32_t* pdwDest) = 0;
    virtual int32_t WriteData(int32_t nDet, int32_t nSegment, int32_t nFirst, int32_t nCount,
                              uint32_t dwConfMask, const uint32_t* pdwSource) = 0;

    // Port primitives. None retries; an invalid handle fails without a message,
    // a failed or short transfer with a level-0 debug line.
    static HANDLE COMOpen(int32_t nPort);
    static void COMClose(HANDLE hPort);
    // False when the line is gone; the handle is then already closed.
    static bool COMCheck(HANDLE hPort);
    // Waits for pending output, then drops unread input.
    static void COMPurge(HANDLE hPort);
    static bool COMWrite(HANDLE hPort, const void* pData, uint32_t cbData);
    // Exactly cbData bytes within the port's time-outs, or false.
    static bool COMRead(HANDLE hPort, void* pBuffer, uint32_t cbData);

    static bool IsPortHandle(HANDLE hPort) {
        return hPort != INVALID_HANDLE_VALUE && hPort != nullptr;
    }

    int32_t m_nMCB;
    HANDLE m_hPort;

protected:
    // Runs one accepted command. ExecLine guarantees non-null out-pointers,
    // a response size of 0 or more, and the caller's values in them.
    virtual bool ExecCmd(ParsedCommand& cmd, int32_t nRespSize, char* pszResp,
                         int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) = 0;

    // The answer to a line the driver does not serve: mac -1, nothing else.
    static bool RefuseLine(int32_t* pnMac);

private:
    void ClosePort();
};

}  // namespace linkbay
