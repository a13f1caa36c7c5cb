#include "answer_records.h"

#include <cstdio>
#include <cstdlib>

namespace linkbay_host {
namespace {

// The digit fields of each numeric kind.
struct NumericLayout {
    char cKind;
    int nFields;
    size_t widths[4];
};
constexpr NumericLayout kNumericLayouts[] = {
    {'A', 1, {3}}, {'C', 1, {5}}, {'D', 2, {5, 5}}, {'G', 1, {10}}, {'M', 4, {10, 10, 5, 5}}, {'N', 3, {3, 3, 3}},
};

struct TextLayout {
    char cKind;
    bool bChecksum;
};
constexpr TextLayout kTextLayouts[] = {{'F', false}, {'J', true}, {'I', false}};

constexpr size_t kChecksumDigits = 3;

bool AllDigits(const std::string& sText) {
    return !sText.empty() && sText.find_first_not_of("0123456789") == std::string::npos;
}

uint32_t ByteSum(const std::string& sText) {
    uint32_t nSum = 0;
    for (char c : sText) nSum += static_cast<unsigned char>(c);
    return nSum & 0xFFu;
}

// The checksum digits at nAt close the record: they must be all that is left.
bool ReadChecksum(const std::string& sLine, size_t nAt, AnswerRecord& record) {
    if (sLine.size() != nAt + kChecksumDigits) return false;
    const std::string sDigits = sLine.substr(nAt);
    if (!AllDigits(sDigits)) return false;
    record.bHasChecksum = true;
    record.bChecksumOk = strtoul(sDigits.c_str(), nullptr, 10) == ByteSum(sLine.substr(0, nAt));
    return true;
}

bool ParseNumeric(const std::string& sLine, const NumericLayout& layout, AnswerRecord& record) {
    size_t nAt = 2;
    for (int i = 0; i < layout.nFields; ++i) {
        const std::string sDigits = sLine.substr(nAt, layout.widths[i]);
        if (sDigits.size() != layout.widths[i] || !AllDigits(sDigits)) return false;
        record.fields.push_back(static_cast<uint32_t>(strtoul(sDigits.c_str(), nullptr, 10)));
        nAt += layout.widths[i];
    }
    return ReadChecksum(sLine, nAt, record);
}

bool ParseText(const std::string& sLine, const TextLayout& layout, AnswerRecord& record) {
    if (!layout.bChecksum) {
        record.sText = sLine.substr(2);
        return layout.cKind != 'I' || record.sText == "T" || record.sText == "F";
    }
    if (sLine.size() < 2 + kChecksumDigits) return false;
    record.sText = sLine.substr(2, sLine.size() - 2 - kChecksumDigits);
    return ReadChecksum(sLine, sLine.size() - kChecksumDigits, record);
}

std::string FirstLine(const std::string& sResponse) {
    const std::vector<std::string> lines = ResponseLines(sResponse);
    return lines.empty() ? std::string() : lines.front();
}

bool Names(const std::string& sLine, const char* pszWord) {
    std::string sUpper;
    for (char c : sLine) sUpper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return sUpper.find(pszWord) != std::string::npos;
}

std::string Fields(const std::vector<uint32_t>& fields) {
    std::string sText;
    for (uint32_t nField : fields) sText += (sText.empty() ? "" : " ") + std::to_string(nField);
    return sText;
}

std::string Triple(const AnswerRecord& record, const std::string& sLine) {
    char szText[64];
    const std::vector<uint32_t>& f = record.fields;
    if (Names(sLine, "DATE")) {
        snprintf(szText, sizeof szText, "date %02u.%02u.%02u (day, month, year of the century)", f[0], f[1], f[2]);
    } else if (Names(sLine, "TIME")) {
        snprintf(szText, sizeof szText, "clock time %02u:%02u:%02u", f[0], f[1], f[2]);
    } else {
        snprintf(szText, sizeof szText, "three numbers: %u %u %u", f[0], f[1], f[2]);
    }
    return szText;
}

std::string Number(const AnswerRecord& record, const std::string& sLine) {
    const uint32_t nValue = record.fields.front();
    if (Names(sLine, "LIVE") || Names(sLine, "TRUE")) {
        char szText[64];
        snprintf(szText, sizeof szText, "%u ticks = %.2f s", nValue, nValue * kSecondsPerTick);
        return szText;
    }
    return std::to_string(nValue);
}

// The pairs a driver answers with, most specific first: a row with a
// negative micro error matches any micro error of its macro error.
struct PairText {
    int32_t nMac;
    int32_t nMic;
    const char* pszText;
};
constexpr PairText kPairTexts[] = {
    {0, 0, "done"},
    {0, 2, "started, but the preset was already reached: CLEAR or a higher preset first"},
    {0, 64, "done; the setting was rounded to what the instrument takes"},
    {131, 132, "wrong number of arguments for this command"},
    {131, 133, "this instrument has no such command (Tab lists the ones it has)"},
    {131, 134, "the answer did not fit the response buffer"},
    {131, 136, "not while the instrument acquires: STOP first"},
    {131, 137, "the instrument's reply was incomplete: try again"},
    {131, 138, "the instrument took the setting, but DETHUB.INI could not be written (see the debug output)"},
    {-3, -1, "no valid reply from the instrument after every attempt: check its line"},
    {-9, -1, "no working instrument behind this detector: see 'linkbay list'"},
    {-1, -1, "the instrument refused the request"},
};

std::string UnknownWords(int32_t nMic) {
    static constexpr const char* kParts[] = {"verb", "noun", "modifier"};
    std::string sText;
    for (int i = 0; i < 3; ++i)
        if ((nMic & (1 << i)) != 0) sText += std::string(sText.empty() ? "" : ", ") + kParts[i];
    return "the command words are not known: the " + (sText.empty() ? std::string("line") : sText) +
           " (Tab lists the known ones)";
}

}  // namespace

std::string DescribeRecord(const std::string& sRecord, const std::string& sLine) {
    AnswerRecord record;
    if (!ParseAnswerRecord(sRecord, record)) return "not a record";
    std::string sText;
    switch (record.cKind) {
        case 'A':
        case 'C':
        case 'G': sText = Number(record, sLine); break;
        case 'N': sText = Triple(record, sLine); break;
        case 'D':
        case 'M': sText = "numbers: " + Fields(record.fields); break;
        case 'I': sText = record.sText == "T" ? "true" : "false"; break;
        default: sText = "text \"" + record.sText + "\""; break;
    }
    if (record.bHasChecksum && !record.bChecksumOk) sText += " (checksum wrong)";
    return sText;
}

std::string ExplainErrorPair(int32_t nMac, int32_t nMic) {
    if (nMac == 129) return UnknownWords(nMic);
    if (nMac == 131 && nMic >= 128 && nMic < 132) return "argument " + std::to_string(nMic - 127) + " is out of range";
    for (const PairText& pair : kPairTexts)
        if (pair.nMac == nMac && (pair.nMic == nMic || pair.nMic < 0)) return pair.pszText;
    return "error pair not known to this program";
}

bool ParseAnswerRecord(const std::string& sLine, AnswerRecord& record) {
    record = AnswerRecord();
    if (sLine.size() < 2 || sLine[0] != '$') return false;
    record.cKind = sLine[1];
    for (const NumericLayout& layout : kNumericLayouts)
        if (layout.cKind == record.cKind) return ParseNumeric(sLine, layout, record);
    for (const TextLayout& layout : kTextLayouts)
        if (layout.cKind == record.cKind) return ParseText(sLine, layout, record);
    return false;
}

std::vector<std::string> ResponseLines(const std::string& sResponse) {
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < sResponse.size()) {
        size_t nEnd = sResponse.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = sResponse.size();
        std::string sLine = sResponse.substr(nStart, nEnd - nStart);
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        lines.push_back(sLine);
        nStart = nEnd + 1;
    }
    return lines;
}

bool RecordValue(const std::string& sResponse, uint32_t& dwValue) {
    AnswerRecord record;
    if (!ParseAnswerRecord(FirstLine(sResponse), record)) return false;
    if (record.cKind != 'A' && record.cKind != 'C' && record.cKind != 'G') return false;
    dwValue = record.fields.front();
    return true;
}

bool RecordTriple(const std::string& sResponse, uint32_t (&values)[3]) {
    AnswerRecord record;
    if (!ParseAnswerRecord(FirstLine(sResponse), record) || record.cKind != 'N') return false;
    for (int i = 0; i < 3; ++i) values[i] = record.fields[static_cast<size_t>(i)];
    return true;
}

}  // namespace linkbay_host
