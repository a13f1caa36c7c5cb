// Root of every command interpreter: holds the family's command set and parses
// command lines against it.
#pragma once

#include <cstdint>

#include "cmdlang/command_set.h"
#include "cmdlang/parser.h"

namespace linkbay {

class CIBase {
public:
    explicit CIBase(const CommandSet& commandSet);
    virtual ~CIBase();

    CIBase(const CIBase&) = delete;
    CIBase& operator=(const CIBase&) = delete;

    // Turns one line into a command code with validated arguments. On false,
    // mac/mic say why (both 0 for a blank line); cmd is always rewritten.
    bool ParseCommand(const char* pszLine, ParsedCommand& cmd,
                      int32_t& nMac, int32_t& nMic) const;

protected:
    const CommandSet& GetCommandSet() const { return m_set; }

    // 0 for an absent or empty word, -1 for an unknown one.
    static int32_t LookupWord(const WordEntry* pTable, int32_t nCount, const char* pszWord);
    // pszSrc is at the opening quote; returns the characters consumed.
    static int32_t CopyQuoted(const char* pszSrc, char* pszDest, int32_t nDestSize);
    bool ValidateArgs(ParsedCommand& cmd, const CommandEntry& entry,
                      int32_t& nMac, int32_t& nMic) const;

private:
    static void ReadArguments(const char* pszArgs, ParsedCommand& cmd);
    static int32_t StoreQuoted(const char* pQuote, ParsedCommand& cmd);
    const CommandEntry* FindCommand(const ParsedCommand& cmd) const;

    // The tables stay in the driver's static data; only pointers are kept.
    CommandSet m_set;
};

}  // namespace linkbay
