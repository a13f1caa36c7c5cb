// Response records and listing lines. Fixed-width parts are formatted into a
// small work area first, so the exact length is known before anything touches
// the caller's buffer.
#include "cmdlang/records.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace linkbay {
namespace {

constexpr int kWorkSize = 96;  // widest fixed part: four listing fields or one record

struct Piece {
    const char* p;
    size_t n;
};

Piece TextPiece(const char* psz) {
    return psz != nullptr ? Piece{psz, std::strlen(psz)} : Piece{"", 0};
}

uint32_t ChecksumOf(const char* p, size_t n) {
    uint32_t nSum = 0;
    for (size_t i = 0; i < n; ++i) nSum += static_cast<unsigned char>(p[i]);
    return nSum & 0xFFu;
}

// Writes the pieces and, for records, the three checksum digits over them and
// the line feed; nothing at all unless the whole text and its NUL fit.
bool Emit(int32_t nSize, char* pszBuf, int32_t& nLen, std::initializer_list<Piece> pieces,
          bool bChecksum) {
    size_t nTotal = bChecksum ? 4 : 0;
    for (const Piece& piece : pieces) nTotal += piece.n;
    if (pszBuf == nullptr || nSize <= 0 || static_cast<size_t>(nSize) <= nTotal) return false;

    size_t nPos = 0;
    for (const Piece& piece : pieces) {
        std::memcpy(pszBuf + nPos, piece.p, piece.n);
        nPos += piece.n;
    }
    if (bChecksum) {
        const uint32_t nSum = ChecksumOf(pszBuf, nPos);
        pszBuf[nPos++] = static_cast<char>('0' + nSum / 100);
        pszBuf[nPos++] = static_cast<char>('0' + nSum / 10 % 10);
        pszBuf[nPos++] = static_cast<char>('0' + nSum % 10);
        pszBuf[nPos++] = '\n';
    }
    pszBuf[nPos] = '\0';
    nLen = static_cast<int32_t>(nPos);
    return true;
}

template <typename... Values>
Piece Printf(char (&work)[kWorkSize], const char* pszFormat, Values... values) {
    const int n = std::snprintf(work, sizeof work, pszFormat, values...);
    // Never longer than what the work area holds, whatever the format produced.
    const size_t nMax = sizeof work - 1;
    return Piece{work, n <= 0 ? 0 : (static_cast<size_t>(n) < nMax ? static_cast<size_t>(n) : nMax)};
}

// Exactly nWidth decimal digits, zero-padded; a wider value keeps its
// low-order digits, so a field never grows past its place.
size_t PutDigits(char* pOut, uint32_t nValue, size_t nWidth) {
    for (size_t i = nWidth; i > 0; --i) {
        pOut[i - 1] = static_cast<char>('0' + nValue % 10);
        nValue /= 10;
    }
    return nWidth;
}

struct Field {
    uint32_t nValue;
    size_t nWidth;
};

// "$", the kind letter and the fixed-width digit fields of a record.
Piece RecordFields(char (&work)[kWorkSize], char cKind, std::initializer_list<Field> fields) {
    size_t n = 0;
    work[n++] = '$';
    work[n++] = cKind;
    for (const Field& field : fields) n += PutDigits(work + n, field.nValue, field.nWidth);
    return Piece{work, n};
}

// One " %011u" field per value, then the line feed; eleven digits hold any uint32_t.
Piece UFields(char (&work)[kWorkSize], std::initializer_list<uint32_t> values) {
    constexpr size_t kWidth = 11;
    size_t n = 0;
    for (uint32_t nValue : values) {
        work[n++] = ' ';
        n += PutDigits(work + n, nValue, kWidth);
    }
    work[n++] = '\n';
    return Piece{work, n};
}

bool Record(int32_t nSize, char* pszBuf, int32_t& nLen, Piece fields) {
    return Emit(nSize, pszBuf, nLen, {fields}, true);
}

bool Listing(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, Piece values) {
    return Emit(nSize, pszBuf, nLen, {TextPiece(pszLabel), values}, false);
}

// "%015.8g" with the exponent written as a sign and three digits, whatever the
// C library does, and with '.' whatever the host's locale.
size_t FormatG15(double dValue, char* pOut) {
    constexpr size_t kWidth = 15;
    char text[40];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, dValue, std::chars_format::general, 8);
    size_t n = static_cast<size_t>(result.ptr - text);

    char* pExp = static_cast<char*>(std::memchr(text, 'e', n));
    if (pExp != nullptr) {
        char* pDigits = pExp + 2;  // past 'e' and its sign
        const size_t nDigits = static_cast<size_t>(text + n - pDigits);
        if (nDigits < 3) {
            const size_t nMissing = 3 - nDigits;
            std::memmove(pDigits + nMissing, pDigits, nDigits);
            std::memset(pDigits, '0', nMissing);
            n += nMissing;
        }
    }

    const size_t nPad = n < kWidth ? kWidth - n : 0;
    if (!std::isfinite(dValue)) {  // inf and nan are padded with blanks, as printf does
        std::memset(pOut, ' ', nPad);
        std::memcpy(pOut + nPad, text, n);
        return nPad + n;
    }
    const size_t nSign = text[0] == '-' ? 1 : 0;
    std::memcpy(pOut, text, nSign);
    std::memset(pOut + nSign, '0', nPad);
    std::memcpy(pOut + nSign + nPad, text + nSign, n - nSign);
    return nPad + n;
}

// One " %015.8g" field per value, then the line feed.
Piece GFields(char (&work)[kWorkSize], std::initializer_list<double> values) {
    size_t n = 0;
    for (double dValue : values) {
        work[n++] = ' ';
        n += FormatG15(dValue, work + n);
    }
    work[n++] = '\n';
    return Piece{work, n};
}

}  // namespace

uint32_t RecordChecksum(const char* pszText) {
    return pszText != nullptr ? ChecksumOf(pszText, std::strlen(pszText)) : 0;
}

bool FormatA(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue) {
    char work[kWorkSize];
    return Record(nSize, pszBuf, nLen, RecordFields(work, 'A', {{nValue & 0xFFu, 3}}));
}

bool FormatC(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue) {
    char work[kWorkSize];
    return Record(nSize, pszBuf, nLen, RecordFields(work, 'C', {{nValue & 0xFFFFu, 5}}));
}

bool FormatD(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue1, uint32_t nValue2) {
    char work[kWorkSize];
    return Record(nSize, pszBuf, nLen,
                  RecordFields(work, 'D', {{nValue1 & 0xFFFFu, 5}, {nValue2 & 0xFFFFu, 5}}));
}

bool FormatG(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue) {
    char work[kWorkSize];
    return Record(nSize, pszBuf, nLen, RecordFields(work, 'G', {{nValue, 10}}));
}

bool FormatM(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue1, uint32_t nValue2,
             uint32_t nValue3, uint32_t nValue4) {
    char work[kWorkSize];
    return Record(nSize, pszBuf, nLen,
                  RecordFields(work, 'M',
                               {{nValue1, 10}, {nValue2, 10}, {nValue3 & 0xFFFFu, 5}, {nValue4 & 0xFFFFu, 5}}));
}

// The fields are read back at fixed positions, so a wider value must not shift
// them: like the other narrow fields, it keeps its low-order digits (a year
// 2024 reads as 024).
bool FormatN(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue1, uint32_t nValue2,
             uint32_t nValue3) {
    char work[kWorkSize];
    return Record(nSize, pszBuf, nLen,
                  RecordFields(work, 'N', {{nValue1, 3}, {nValue2, 3}, {nValue3, 3}}));
}

bool FormatJ(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszText) {
    return Emit(nSize, pszBuf, nLen, {Piece{"$J", 2}, TextPiece(pszText)}, true);
}

bool FormatF(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszText) {
    return Emit(nSize, pszBuf, nLen, {Piece{"$F", 2}, TextPiece(pszText), Piece{"\n", 1}}, false);
}

bool FormatI(int32_t nSize, char* pszBuf, int32_t& nLen, bool bValue) {
    return Emit(nSize, pszBuf, nLen, {bValue ? Piece{"$IT\n", 4} : Piece{"$IF\n", 4}}, false);
}

bool FormatListU(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, uint32_t nValue) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, UFields(work, {nValue}));
}

bool FormatListUU(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                  uint32_t nValue1, uint32_t nValue2) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, UFields(work, {nValue1, nValue2}));
}

bool FormatListUUUU(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                    uint32_t nValue1, uint32_t nValue2, uint32_t nValue3, uint32_t nValue4) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel,
                   UFields(work, {nValue1, nValue2, nValue3, nValue4}));
}

bool FormatListG(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, double dValue) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, GFields(work, {dValue}));
}

bool FormatListGG(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                  double dValue1, double dValue2) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, GFields(work, {dValue1, dValue2}));
}

bool FormatListGGG(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                   double dValue1, double dValue2, double dValue3) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, GFields(work, {dValue1, dValue2, dValue3}));
}

bool FormatListD(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, int32_t nValue) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, Printf(work, " %011d\n", nValue));
}

// Out-of-range values are written in full rather than cut: the line is
// labelled and blank-separated, so a longer field is still read correctly.
bool FormatListD6(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, int32_t nValue) {
    char work[kWorkSize];
    return Listing(nSize, pszBuf, nLen, pszLabel, Printf(work, " %06d\n", nValue));
}

}  // namespace linkbay
