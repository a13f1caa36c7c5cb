// The command-line parser of CIBase. Everything it needs comes from the
// command set's constant tables; it works in fixed buffers and allocates nothing.
#include <charconv>
#include <cstring>
#include <limits>

#include "cmdlang/ci_base.h"
#include "cmdlang/upper_case.h"

namespace linkbay {
namespace {

struct CommandWords {
    const char* pszVerb;
    const char* pszNoun;      // null when absent
    const char* pszModifier;  // null when absent
};

bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipWhite(const char* p) {
    while (IsWhite(*p)) ++p;
    return p;
}

const char* SkipDigits(const char* p, const char* pEnd) {
    while (p < pEnd && IsDigit(*p)) ++p;
    return p;
}

// Position of the next comma, or of the terminating NUL.
const char* FindComma(const char* p) {
    while (*p != '\0' && *p != ',') ++p;
    return p;
}

const char* PastNextComma(const char* p) {
    p = FindComma(p);
    return *p == ',' ? p + 1 : p;
}

size_t BoundedLength(const char* psz, size_t nMax) {
    size_t n = 0;
    while (n < nMax && psz[n] != '\0') ++n;
    return n;
}

template <size_t N>
void CopyCut(char (&dest)[N], const char* pSrc, size_t nSrc) {
    const size_t n = nSrc < N - 1 ? nSrc : N - 1;
    std::memcpy(dest, pSrc, n);
    dest[n] = '\0';
}

void TrimTrailingWhite(char* psz) {
    size_t n = std::strlen(psz);
    while (n > 0 && IsWhite(psz[n - 1])) psz[--n] = '\0';
}

// The command word ends at the first blank or comma (a tab does not end it);
// the argument text starts with that separator.
void SplitLine(const char* pszLine, char (&szWord)[kCommandWordSize],
               char (&szArgs)[kArgTextSize]) {
    const size_t nWord = std::strcspn(pszLine, " ,");
    const char* pSep = pszLine + nWord;
    CopyCut(szWord, pszLine, nWord);
    if (*pSep != '\0') {
        CopyCut(szArgs, pSep, BoundedLength(pSep, kArgTextSize - 1));
    } else {
        szArgs[0] = '\0';
        TrimTrailingWhite(szWord);  // so "SHOW_VERSION\r\n" is accepted
    }
}

// Splits in place at the first two underscores; the modifier keeps any further ones.
CommandWords SplitCommandWord(char* pszWord) {
    CommandWords words{pszWord, nullptr, nullptr};
    char* pUnderscore = std::strchr(pszWord, '_');
    if (pUnderscore == nullptr) return words;
    *pUnderscore = '\0';
    words.pszNoun = pUnderscore + 1;
    pUnderscore = std::strchr(pUnderscore + 1, '_');
    if (pUnderscore == nullptr) return words;
    *pUnderscore = '\0';
    words.pszModifier = pUnderscore + 1;
    return words;
}

// Decimal exponent of the leading significant digit, used only to tell an
// overflow from an underflow when the conversion is out of range.
long LeadingDigitOrder(const char* pDigits, const char* pMantissaEnd, long nExponent) {
    long nIntDigits = 0;
    long nIndex = 0;
    long nFirstNonZero = -1;
    bool bFraction = false;
    for (const char* p = pDigits; p < pMantissaEnd; ++p) {
        if (*p == '.') {
            bFraction = true;
            continue;
        }
        if (!bFraction) ++nIntDigits;
        if (nFirstNonZero < 0 && *p != '0') nFirstNonZero = nIndex;
        ++nIndex;
    }
    return nIntDigits - 1 - nFirstNonZero + nExponent;
}

// Reads an exponent "E[+|-]digits"; leaves p unchanged when no digit follows.
const char* ReadExponent(const char* p, const char* pEnd, long& nExponent) {
    nExponent = 0;
    if (p >= pEnd || (*p != 'E' && *p != 'e')) return p;
    const char* q = p + 1;
    bool bNegative = false;
    if (q < pEnd && (*q == '+' || *q == '-')) bNegative = *q++ == '-';
    if (q >= pEnd || !IsDigit(*q)) return p;
    for (; q < pEnd && IsDigit(*q); ++q) {
        if (nExponent < 100000) nExponent = nExponent * 10 + (*q - '0');  // far past any double
    }
    if (bNegative) nExponent = -nExponent;
    return q;
}

// atof's conversion of decimal text (sign, digits, point, exponent; 0.0 when no
// number can be read), independent of the host's locale and without the hex,
// infinity and NaN spellings some libraries accept.
double ReadReal(const char* p, const char* pEnd) {
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) bNegative = *p++ == '-';
    const char* pDigits = p;
    p = SkipDigits(p, pEnd);
    bool bAnyDigit = p != pDigits;
    if (p < pEnd && *p == '.') {
        const char* pFraction = p + 1;
        p = SkipDigits(pFraction, pEnd);
        bAnyDigit = bAnyDigit || p != pFraction;
    }
    if (!bAnyDigit) return 0.0;
    const char* pMantissaEnd = p;
    long nExponent = 0;
    p = ReadExponent(p, pEnd, nExponent);

    double dValue = 0.0;
    const std::from_chars_result result =
        std::from_chars(pDigits, p, dValue, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        dValue = LeadingDigitOrder(pDigits, pMantissaEnd, nExponent) > 0
                     ? std::numeric_limits<double>::infinity()
                     : 0.0;
    }
    return bNegative ? -dValue : dValue;
}

// atol's conversion: optional sign, digits up to the first other character,
// accumulated modulo 2^32.
uint32_t ReadWhole(const char* p, const char* pEnd) {
    bool bNegative = false;
    if (p < pEnd && (*p == '+' || *p == '-')) bNegative = *p++ == '-';
    uint32_t nValue = 0;
    for (; p < pEnd && IsDigit(*p); ++p) nValue = nValue * 10u + static_cast<uint32_t>(*p - '0');
    return bNegative ? 0u - nValue : nValue;
}

// Low 32 bits of a non-negative value truncated toward zero; 0 from 2^63 on
// (and for NaN), which is what an out-of-range 64-bit conversion yields on x86.
uint32_t LowWordOfTruncated(double dValue) {
    if (!(dValue < 9223372036854775808.0)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(dValue));
}

struct EscapeEntry {
    char cAfterBackslash;
    char cStored;
};

// Any other character after a backslash stands for itself (so \" and \\).
constexpr EscapeEntry kEscapes[] = {
    {'$', '\x1b'}, {'N', '\n'}, {'n', '\n'}, {'R', '\r'}, {'r', '\r'}, {'T', '\t'}, {'t', '\t'},
};

char TranslateEscape(char c) {
    for (const EscapeEntry& escape : kEscapes) {
        if (escape.cAfterBackslash == c) return escape.cStored;
    }
    return c;
}

bool IsRealToken(const char* p, const char* pEnd) {
    for (; p < pEnd; ++p) {
        if (*p == '-' || *p == '.' || *p == 'E' || *p == 'e') return true;
    }
    return false;
}

void StoreNumber(const char* pToken, const char* pEnd, int nSlot, ParsedCommand& cmd) {
    if (!IsRealToken(pToken, pEnd)) {
        cmd.iArg[nSlot] = ReadWhole(pToken, pEnd);
        cmd.dArg[nSlot] = static_cast<double>(cmd.iArg[nSlot]);
        return;
    }
    const double dValue = ReadReal(pToken, pEnd);
    cmd.dArg[nSlot] = dValue;
    if (dValue < 0.0) {
        cmd.iArg[nSlot] = LowWordOfTruncated(-dValue);
        cmd.flags[nSlot] = kArgNotUnsigned32;
    } else {
        cmd.iArg[nSlot] = LowWordOfTruncated(dValue);
        if (static_cast<double>(cmd.iArg[nSlot]) != dValue) cmd.flags[nSlot] = kArgNotUnsigned32;
    }
}

}  // namespace

int32_t CIBase::LookupWord(const WordEntry* pTable, int32_t nCount, const char* pszWord) {
    if (pszWord == nullptr || pszWord[0] == '\0') return 0;
    if (nCount < 1 || pTable == nullptr) return -1;
    const size_t nLen = std::strlen(pszWord);
    for (int32_t i = 0; i < nCount; ++i) {
        const WordEntry& row = pTable[i];
        // strncmp stops at the keyword's end, so a longer word never matches.
        if (static_cast<long long>(nLen) >= row.nMinLen &&
            std::strncmp(row.pszWord, pszWord, nLen) == 0) {
            return row.nId;
        }
    }
    return -1;
}

int32_t CIBase::CopyQuoted(const char* pszSrc, char* pszDest, int32_t nDestSize) {
    const char* p = pszSrc + 1;
    int32_t n = 0;
    while (*p != '\0' && *p != '"') {
        if (n >= nDestSize - 1) {
            ++p;  // field full: dropped, and a backslash is no longer an escape
            continue;
        }
        char c = *p++;
        if (c == '\\') {
            if (*p == '\0') break;  // a trailing backslash ends the string
            c = TranslateEscape(*p++);
        }
        pszDest[n++] = c;
    }
    if (nDestSize > 0) pszDest[n] = '\0';
    if (*p == '"') ++p;
    return static_cast<int32_t>(p - pszSrc);
}

// Fills argument slots 0 to 3 from the argument text; text after the fourth
// slot is ignored.
void CIBase::ReadArguments(const char* pszArgs, ParsedCommand& cmd) {
    const char* p = pszArgs;
    for (int nSlot = 0; nSlot < kMaxArgSlots; ++nSlot) {
        p = SkipWhite(p);
        if (*p == '\0') return;
        if (*p == ',') {  // empty argument: a number 0
            ++cmd.nArgs;
            ++p;
        } else if (*p == '"') {
            p = PastNextComma(p + StoreQuoted(p, cmd));
        } else {
            const char* pEnd = FindComma(p);
            StoreNumber(p, pEnd, nSlot, cmd);
            ++cmd.nArgs;
            p = *pEnd == ',' ? pEnd + 1 : pEnd;
        }
    }
}

// Strings take a slot but are not counted in nArgs; a third replaces the second.
int32_t CIBase::StoreQuoted(const char* pQuote, ParsedCommand& cmd) {
    if (cmd.nStrings == 0) {
        cmd.nStrings = 1;
        return CopyQuoted(pQuote, cmd.szString1, kString1Size);
    }
    cmd.nStrings = 2;
    return CopyQuoted(pQuote, cmd.szString2, kString2Size);
}

// Only the table of the verb's group is searched; absent words (id 0) match only 0.
const CommandEntry* CIBase::FindCommand(const ParsedCommand& cmd) const {
    const CommandEntry* pRows = m_set.pCommandsC;
    int32_t nRows = m_set.nCommandsC;
    if (cmd.nVerb == m_set.nVerbA) {
        pRows = m_set.pCommandsA;
        nRows = m_set.nCommandsA;
    } else if (cmd.nVerb == m_set.nVerbB) {
        pRows = m_set.pCommandsB;
        nRows = m_set.nCommandsB;
    }
    for (int32_t i = 0; i < nRows && pRows != nullptr; ++i) {
        const CommandEntry& row = pRows[i];
        if (row.nVerb == cmd.nVerb && row.nNoun == cmd.nNoun && row.nModifier == cmd.nModifier)
            return &row;
    }
    return nullptr;
}

bool CIBase::ValidateArgs(ParsedCommand& cmd, const CommandEntry& entry,
                          int32_t& nMac, int32_t& nMic) const {
    const int32_t n = cmd.nArgs;
    if (n > entry.nMaxArgs || n < entry.nMinArgs) {
        nMac = kMacCommandError;
        nMic = kMicArgCount;
        return false;
    }
    for (int32_t i = 0; i < n; ++i) {
        // A row naming a range the table lacks refuses the argument rather
        // than reading past the range table.
        const bool bKnownRange = m_set.pRanges != nullptr && entry.range[i] < m_set.nRanges;
        const RangeEntry range = bKnownRange ? m_set.pRanges[entry.range[i]] : RangeEntry{1.0, 0.0};
        const double d = cmd.dArg[i];
        if (!(d >= range.dMin && d <= range.dMax)) {  // NaN fails too
            nMac = kMacCommandError;
            nMic = kMicArgRangeBase + i;
            return false;
        }
    }
    cmd.nCode = entry.nCode;
    nMac = 0;
    nMic = 0;
    return true;
}

bool CIBase::ParseCommand(const char* pszLine, ParsedCommand& cmd,
                          int32_t& nMac, int32_t& nMic) const {
    cmd = ParsedCommand{};
    nMac = 0;
    nMic = 0;
    const char* p = SkipWhite(pszLine != nullptr ? pszLine : "");
    if (*p == '\0') return false;

    char szWord[kCommandWordSize];
    char szArgs[kArgTextSize];
    SplitLine(p, szWord, szArgs);
    UpperCaseCp1252(szWord, std::strlen(szWord));
    const CommandWords words = SplitCommandWord(szWord);
    ReadArguments(szArgs, cmd);

    cmd.nVerb = LookupWord(m_set.pVerbs, m_set.nVerbs, words.pszVerb);
    cmd.nNoun = LookupWord(m_set.pNouns, m_set.nNouns, words.pszNoun);
    cmd.nModifier = LookupWord(m_set.pModifiers, m_set.nModifiers, words.pszModifier);
    if (cmd.nVerb == 0) {
        nMac = kMacWordError;
        nMic = kMicNoCommand;
        return false;
    }
    nMic = (cmd.nVerb == -1 ? kMicUnknownVerb : 0) + (cmd.nNoun == -1 ? kMicUnknownNoun : 0) +
           (cmd.nModifier == -1 ? kMicUnknownModifier : 0);
    if (nMic != 0) {
        nMac = kMacWordError;
        return false;
    }

    const CommandEntry* pEntry = FindCommand(cmd);
    if (pEntry == nullptr) {
        nMac = kMacCommandError;
        nMic = kMicNoCommand;
        return false;
    }
    return ValidateArgs(cmd, *pEntry, nMac, nMic);
}

}  // namespace linkbay
