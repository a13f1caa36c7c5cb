// Command dispatch as data: one row per command code binds the code to its
// handler and to what the handler sends or answers; the handlers live with
// their driver's command translation, file-local.
#pragma once

#include <cstdint>

#include "cmdlang/parser.h"
#include "cmdlang/result_codes.h"

namespace linkbay {

// The output side of one command: the caller's buffer, the length written
// into it and the error pair.
struct Answer {
    int32_t nSize;
    char* pszBuf;
    int32_t* pnLen;
    int32_t& nMac;
    int32_t& nMic;
};

// Device is what a family's rows send: a command text, a command number ...
template <class Driver, class Device = const char*>
struct DispatchRow {
    int32_t nCode;
    bool (*pfnRun)(Driver& driver, const DispatchRow& row, const ParsedCommand& cmd, Answer& answer);
    Device device{};                // what the row sends or reads
    const char* pszText = nullptr;  // fixed answer text, where the row has one
    int32_t nValue = 0;             // the row's parameter (mode, field group, constant)
};

template <class Row, int32_t kRows>
const Row* FindDispatchRow(const Row (&rows)[kRows], int32_t nCode) {
    for (const Row& row : rows) {
        if (row.nCode == nCode) return &row;
    }
    return nullptr;
}

// A code without a row: "<CLASS>::ExecCmd(): Command not found: <code>" at
// debug level 1 and 131/133, served.
bool AnswerNoAction(const char* pszClass, int32_t nCode, int32_t& nMac, int32_t& nMic);

// Runs the row of the command's code with the caller's buffer and pair.
template <class Driver, class Row, int32_t kRows>
bool DispatchCommand(Driver& driver, const Row (&rows)[kRows], const char* pszClass, const ParsedCommand& cmd,
                     int32_t nRespSize, char* pszResp, int32_t* pnRespLen, int32_t* pnMac, int32_t* pnMic) {
    const Row* pRow = FindDispatchRow(rows, cmd.nCode);
    if (pRow == nullptr) return AnswerNoAction(pszClass, cmd.nCode, *pnMac, *pnMic);
    Answer answer{nRespSize, pszResp, pnRespLen, *pnMac, *pnMic};
    return pRow->pfnRun(driver, *pRow, cmd, answer);
}

// A served command that failed: 131/nMic, true.
bool Refuse(Answer& answer, int32_t nMic);
// A record writer's refusal means the caller's buffer was too small (131/134).
bool Written(bool bWritten, Answer& answer);
// A plain text answer with its NUL, refused when it or nMinSize does not fit;
// nLenExtra is added to the length reported.
bool CopyText(Answer& answer, const char* pszText, int32_t nMinSize, int32_t nLenExtra);

}  // namespace linkbay
