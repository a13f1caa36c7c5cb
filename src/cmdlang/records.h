// Writers of response records ("$" kind fields checksum LF) and labelled
// listing lines. Each writes into the caller's buffer followed by a NUL and
// sets nLen to the characters written; it returns false and writes nothing
// (nLen untouched) when the buffer is too small. A null buffer counts as too
// small; a null text or label counts as empty.
#pragma once

#include <cstdint>

namespace linkbay {

// Sum of the bytes modulo 256.
uint32_t RecordChecksum(const char* pszText);

bool FormatA(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue);  // low 8 bits
bool FormatC(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue);  // low 16 bits
bool FormatD(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue1, uint32_t nValue2);
bool FormatG(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue);
bool FormatM(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue1, uint32_t nValue2,
             uint32_t nValue3, uint32_t nValue4);  // low 16 bits of the last two
// Values above 999 keep their last three digits.
bool FormatN(int32_t nSize, char* pszBuf, int32_t& nLen, uint32_t nValue1, uint32_t nValue2,
             uint32_t nValue3);
bool FormatJ(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszText);
bool FormatF(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszText);
bool FormatI(int32_t nSize, char* pszBuf, int32_t& nLen, bool bValue);

bool FormatListU(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, uint32_t nValue);
bool FormatListUU(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                  uint32_t nValue1, uint32_t nValue2);
bool FormatListUUUU(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                    uint32_t nValue1, uint32_t nValue2, uint32_t nValue3, uint32_t nValue4);
bool FormatListG(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, double dValue);
bool FormatListGG(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                  double dValue1, double dValue2);
bool FormatListGGG(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel,
                   double dValue1, double dValue2, double dValue3);
bool FormatListD(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, int32_t nValue);
// Values outside -99999..999999 are written in full; the line is then longer
// and nLen and the size test follow its real length.
bool FormatListD6(int32_t nSize, char* pszBuf, int32_t& nLen, const char* pszLabel, int32_t nValue);

}  // namespace linkbay
