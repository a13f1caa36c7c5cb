#include "spectrum_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "json_text.h"
#ifdef LINKBAY_HOST_N42
#include "spectrum_n42.h"
#endif

namespace linkbay_host {
namespace {

using Writer = std::string (*)(const SpectrumRecord&);

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

struct FormatRow {
    SpectrumFormat format;
    const char* pszName;
    const char* pszExtension;
    Writer pWriter;  // null: not in this build
};

#ifdef LINKBAY_HOST_N42
constexpr Writer kN42Writer = N42Text;
#else
constexpr Writer kN42Writer = nullptr;
#endif

constexpr FormatRow kFormats[] = {
    {SpectrumFormat::Csv, "csv", ".csv", CsvText},
    {SpectrumFormat::Spe, "spe", ".spe", SpeText},
    {SpectrumFormat::N42, "n42", ".n42", kN42Writer},
    {SpectrumFormat::Json, "json", ".json", JsonText},
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
