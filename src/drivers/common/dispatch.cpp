#include "drivers/common/dispatch.h"

#include <cstring>

#include "serial/debug_output.h"

namespace linkbay {

bool AnswerNoAction(const char* pszClass, int32_t nCode, int32_t& nMac, int32_t& nMic) {
    DebugPrint(1, "%s::ExecCmd(): Command not found: %d\n", pszClass, nCode);
    nMac = kMacCommandError;
    nMic = kMicNoCommand;
    return true;
}

bool Refuse(Answer& answer, int32_t nMic) {
    answer.nMac = kMacCommandError;
    answer.nMic = nMic;
    return true;
}

bool Written(bool bWritten, Answer& answer) { return bWritten ? true : Refuse(answer, kMicBufferTooSmall); }

bool CopyText(Answer& answer, const char* pszText, int32_t nMinSize, int32_t nLenExtra) {
    const int32_t nLen = static_cast<int32_t>(std::strlen(pszText));
    if (answer.nSize < nLen + 1 || answer.nSize < nMinSize) return Refuse(answer, kMicBufferTooSmall);
    std::memcpy(answer.pszBuf, pszText, static_cast<size_t>(nLen) + 1);
    *answer.pnLen = nLen + nLenExtra;
    return true;
}

}  // namespace linkbay
