#include "answer_records.h"

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

}  // namespace

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
