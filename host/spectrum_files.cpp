#include "spectrum_files.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "json_text.h"
#ifdef LINKBAY_HOST_N42
#include "spectrum_n42.h"
#endif

namespace linkbay_host {
namespace {

using Writer = std::string (*)(const SpectrumRecord&);
using Reader = bool (*)(const std::string& sText, SpectrumRecord& record, std::string& sError);

// More channels than any instrument has: a file that claims more is not a spectrum.
constexpr size_t kMaxChannels = size_t{1} << 20;
constexpr double kMaxSeconds = 1e8;

std::string Printf(const char* pszFormat, double dValue) {
    char szText[64];
    snprintf(szText, sizeof szText, pszFormat, dValue);
    return szText;
}

std::string CsvText(const SpectrumRecord& record) {
    std::string sText = "channel,counts\n";
    const std::vector<uint32_t>& counts = record.spectrum.counts;
    for (size_t c = 0; c < counts.size(); ++c) sText += std::to_string(c) + "," + std::to_string(counts[c]) + "\n";
    return sText;
}

std::string SpeDate(const CivilTime& time) {
    char szText[40];
    snprintf(szText, sizeof szText, "%02d/%02d/%04d %02d:%02d:%02d", time.nMonth, time.nDay, time.nYear, time.nHour,
             time.nMinute, time.nSecond);
    return szText;
}

std::string SpeText(const SpectrumRecord& record) {
    const std::vector<uint32_t>& counts = record.spectrum.counts;
    std::string sText = "$SPEC_ID:\n" + record.detector.sDescription + "\n";
    sText += "$SPEC_REM:\nMCB " + std::to_string(record.detector.nMcb) + " detector " + std::to_string(record.detector.nDet) + ", " +
             record.detector.sFamily + " " + record.detector.sVersion + "\n";
    if (record.bHasStart) sText += "$DATE_MEA:\n" + SpeDate(record.start) + "\n";
    if (record.bHasLive && record.bHasTrue)
        sText += "$MEAS_TIM:\n" + Printf("%.2f", record.liveSeconds()) + " " + Printf("%.2f", record.trueSeconds()) + "\n";
    sText += "$ROI:\n" + std::to_string(record.spectrum.rois.size()) + "\n";
    for (const RoiRun& roi : record.spectrum.rois)
        sText += std::to_string(roi.nFirst) + " " + std::to_string(roi.nFirst + roi.nCount - 1) + "\n";
    sText += "$DATA:\n0 " + std::to_string(counts.empty() ? 0 : counts.size() - 1) + "\n";
    for (uint32_t nCount : counts) sText += Printf("%8.0f", nCount) + "\n";
    return sText;
}

std::string JsonNumberOrNull(bool bKnown, double dValue) { return bKnown ? Printf("%.2f", dValue) : "null"; }

std::string JsonText(const SpectrumRecord& record) {
    std::string sRois;
    for (const RoiRun& roi : record.spectrum.rois)
        sRois += (sRois.empty() ? "" : ",") + std::string("{\"first\":") + std::to_string(roi.nFirst) +
                 ",\"last\":" + std::to_string(roi.nFirst + roi.nCount - 1) + "}";
    std::string sCounts;
    for (uint32_t nCount : record.spectrum.counts) sCounts += (sCounts.empty() ? "" : ",") + std::to_string(nCount);
    return "{\"mcb\":" + std::to_string(record.detector.nMcb) + ",\"det\":" + std::to_string(record.detector.nDet) +
           ",\"family\":" + JsonString(record.detector.sFamily) + ",\"version\":" + JsonString(record.detector.sVersion) +
           ",\"description\":" + JsonString(record.detector.sDescription) +
           ",\"start_time\":" + (record.bHasStart ? JsonString(IsoDateTime(record.start)) : "null") +
           ",\"live_time\":" + JsonNumberOrNull(record.bHasLive, record.liveSeconds()) +
           ",\"true_time\":" + JsonNumberOrNull(record.bHasTrue, record.trueSeconds()) +
           ",\"channels\":" + std::to_string(record.spectrum.counts.size()) + ",\"rois\":[" + sRois +
           "],\"counts\":[" + sCounts + "]}\n";
}

bool ParseCount(const std::string& sText, uint32_t& nCount) {
    if (sText.empty() || sText.find_first_not_of("0123456789") != std::string::npos || sText.size() > 10) return false;
    const unsigned long long n = strtoull(sText.c_str(), nullptr, 10);
    nCount = static_cast<uint32_t>(n);
    return n <= UINT32_MAX;
}

bool AddCount(const std::string& sWord, std::vector<uint32_t>& counts, std::string& sError) {
    uint32_t nCount = 0;
    if (!ParseCount(sWord, nCount)) {
        sError = "'" + sWord + "' is not a count (0 to 4294967295)";
        return false;
    }
    if (counts.size() >= kMaxChannels) {
        sError = "more than " + std::to_string(kMaxChannels) + " channels";
        return false;
    }
    counts.push_back(nCount);
    return true;
}

bool ReadCsv(const std::string& sText, SpectrumRecord& record, std::string& sError) {
    std::istringstream lines(sText);
    std::string sLine;
    if (!std::getline(lines, sLine) || sLine.rfind("channel,counts", 0) != 0) {
        sError = "line 1 is not the header 'channel,counts'";
        return false;
    }
    std::vector<uint32_t>& counts = record.spectrum.counts;
    for (size_t nLine = 2; std::getline(lines, sLine); ++nLine) {
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        if (sLine.empty()) continue;
        const size_t nComma = sLine.find(',');
        if (nComma == std::string::npos || sLine.substr(0, nComma) != std::to_string(counts.size()) ||
            !AddCount(sLine.substr(nComma + 1), counts, sError)) {
            sError = "line " + std::to_string(nLine) + ": expected '" + std::to_string(counts.size()) + ",COUNT'" +
                     (sError.empty() ? "" : " (" + sError + ")");
            return false;
        }
    }
    return true;
}

uint32_t SecondsToTicks(double dSeconds) { return static_cast<uint32_t>(std::lround(dSeconds / kSecondsPerTick)); }

bool ReadSpeTimes(const std::string& sBody, SpectrumRecord& record) {
    double dLive = -1;
    double dTrue = -1;
    std::istringstream words(sBody);
    if (!(words >> dLive >> dTrue) || dLive < 0 || dTrue < 0 || dLive > kMaxSeconds || dTrue > kMaxSeconds) return false;
    record.dwLiveTicks = SecondsToTicks(dLive);
    record.dwTrueTicks = SecondsToTicks(dTrue);
    record.bHasLive = record.bHasTrue = true;
    return true;
}

bool ReadSpeDate(const std::string& sBody, SpectrumRecord& record) {
    CivilTime& t = record.start;
    char chExtra = 0;
    if (sscanf(sBody.c_str(), " %d/%d/%d %d:%d:%d %c", &t.nMonth, &t.nDay, &t.nYear, &t.nHour, &t.nMinute, &t.nSecond,
               &chExtra) != 6)
        return false;
    record.bHasStart = true;
    return true;
}

bool ReadSpeRois(const std::string& sBody, SpectrumRecord& record) {
    std::istringstream words(sBody);
    size_t nRois = 0;
    if (!(words >> nRois) || nRois > kMaxChannels) return false;
    for (size_t i = 0; i < nRois; ++i) {
        size_t nFirst = 0;
        size_t nLast = 0;
        if (!(words >> nFirst >> nLast) || nLast < nFirst || nLast >= kMaxChannels) return false;
        record.spectrum.rois.push_back(RoiRun{nFirst, nLast - nFirst + 1});
    }
    return true;
}

bool ReadSpeData(const std::string& sBody, SpectrumRecord& record, std::string& sError) {
    std::istringstream words(sBody);
    size_t nFirst = 0;
    size_t nLast = 0;
    if (!(words >> nFirst >> nLast) || nFirst != 0 || nLast >= kMaxChannels) {
        sError = "$DATA: the channel range must be '0 LAST'";
        return false;
    }
    for (std::string sWord; words >> sWord;)
        if (!AddCount(sWord, record.spectrum.counts, sError)) return false;
    if (record.spectrum.counts.size() != nLast + 1) {
        sError = "$DATA: " + std::to_string(record.spectrum.counts.size()) + " counts for channels 0 to " + std::to_string(nLast);
        return false;
    }
    return true;
}

// "$NAME:" lines open sections; each section's lines are its body.
bool ReadSpe(const std::string& sText, SpectrumRecord& record, std::string& sError) {
    std::istringstream lines(sText);
    std::vector<std::pair<std::string, std::string>> sections;
    for (std::string sLine; std::getline(lines, sLine);) {
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        if (!sLine.empty() && sLine[0] == '$')
            sections.emplace_back(sLine, "");
        else if (!sections.empty())
            sections.back().second += sLine + "\n";
    }
    bool bHasData = false;
    for (const auto& [sName, sBody] : sections) {
        bool bRead = true;
        if (sName == "$SPEC_ID:") record.detector.sDescription = sBody.substr(0, sBody.find('\n'));
        if (sName == "$MEAS_TIM:") bRead = ReadSpeTimes(sBody, record);
        if (sName == "$DATE_MEA:") bRead = ReadSpeDate(sBody, record);
        if (sName == "$ROI:") bRead = ReadSpeRois(sBody, record);
        if (sName == "$DATA:") {
            if (!ReadSpeData(sBody, record, sError)) return false;
            bHasData = true;
        }
        if (!bRead) {
            sError = sName + " is not as expected";
            return false;
        }
    }
    if (!bHasData) sError = "no $DATA: section";
    return bHasData;
}

struct FormatRow {
    SpectrumFormat format;
    const char* pszName;
    const char* pszExtension;
    Writer pWriter;  // null: not in this build
    Reader pReader;  // null: not read back
};

#ifdef LINKBAY_HOST_N42
constexpr Writer kN42Writer = N42Text;
constexpr Reader kN42Reader = ParseN42;
#else
constexpr Writer kN42Writer = nullptr;
constexpr Reader kN42Reader = nullptr;
#endif

constexpr FormatRow kFormats[] = {
    {SpectrumFormat::Csv, "csv", ".csv", CsvText, ReadCsv},
    {SpectrumFormat::Spe, "spe", ".spe", SpeText, ReadSpe},
    {SpectrumFormat::N42, "n42", ".n42", kN42Writer, kN42Reader},
    {SpectrumFormat::Json, "json", ".json", JsonText, nullptr},
};

std::string Lower(std::string sText) {
    for (char& c : sText) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return sText;
}

}  // namespace

std::string SpectrumFormatNames() {
    std::string sNames;
    for (const FormatRow& row : kFormats) sNames += (sNames.empty() ? "" : ", ") + std::string(row.pszName);
    return sNames;
}

bool ChooseSpectrumFormat(const std::string& sFormatName, const std::string& sPath, SpectrumFormat& format,
                          std::string& sError) {
    const std::string sExtension = Lower(std::filesystem::path(sPath).extension().string());
    for (const FormatRow& row : kFormats) {
        if (sFormatName.empty() ? sExtension == row.pszExtension : Lower(sFormatName) == row.pszName) {
            format = row.format;
            return true;
        }
    }
    if (sFormatName.empty()) {
        format = SpectrumFormat::Csv;
        return true;
    }
    sError = "unknown format '" + sFormatName + "': choose one of " + SpectrumFormatNames();
    return false;
}

bool FormatSpectrum(const SpectrumRecord& record, SpectrumFormat format, std::string& sText, std::string& sError) {
    for (const FormatRow& row : kFormats) {
        if (row.format != format) continue;
        if (row.pWriter == nullptr) {
            sError = std::string("this build cannot write ") + row.pszName + " (its library has no Windows build): "
                     "choose one of csv, spe, json";
            return false;
        }
        sText = row.pWriter(record);
        return true;
    }
    return false;
}

bool LoadSpectrumFile(const std::string& sPath, SpectrumRecord& record, std::string& sError) {
    const std::string sExtension = Lower(std::filesystem::path(sPath).extension().string());
    const FormatRow* pRow = nullptr;
    std::string sReadable;
    for (const FormatRow& row : kFormats) {
        if (row.pReader == nullptr) continue;
        if (sExtension == row.pszExtension) pRow = &row;
        sReadable += (sReadable.empty() ? "" : ", ") + std::string(row.pszExtension);
    }
    if (pRow == nullptr) {
        sError = sPath + ": spectrum files are read from files ending in " + sReadable;
        return false;
    }
    std::ifstream file(sPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        sError = "cannot read " + sPath + ": check that it exists and is readable";
        return false;
    }
    record = SpectrumRecord();
    record.detector.sDescription = std::filesystem::path(sPath).filename().string();
    if (!pRow->pReader(text.str(), record, sError)) {
        sError = sPath + ": " + sError;
        return false;
    }
    record.spectrum.nResult = 1;
    return true;
}

bool WriteFileWhole(const std::string& sPath, const std::string& sText, std::string& sError) {
    const std::string sTemporary = sPath + ".partial";
    {
        std::ofstream file(sTemporary, std::ios::binary | std::ios::trunc);
        file.write(sText.data(), static_cast<std::streamsize>(sText.size()));
        file.close();
        if (!file) {
            std::error_code ignored;
            std::filesystem::remove(sTemporary, ignored);
            sError = "cannot write " + sTemporary + ": check that its folder exists and is writable";
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(sTemporary, sPath, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(sTemporary, ignored);
        sError = "cannot put " + sPath + " in place: " + error.message();
        return false;
    }
    return true;
}

}  // namespace linkbay_host
