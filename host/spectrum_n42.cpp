#include "spectrum_n42.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <pugixml.hpp>

namespace linkbay_host {
namespace {

constexpr size_t kCountsPerLine = 16;

std::string Duration(double dSeconds) {
    char szText[40];
    snprintf(szText, sizeof szText, "PT%.2fS", dSeconds);
    return szText;
}

// Instrument texts may hold bytes that XML 1.0 cannot carry; they become '?'.
std::string XmlSafe(std::string sText) {
    for (char& c : sText) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b < 0x20 && c != '\t' && c != '\n') || b >= 0x80) c = '?';
    }
    return sText;
}

void AddText(pugi::xml_node parent, const char* pszName, const std::string& sText) {
    parent.append_child(pszName).text().set(XmlSafe(sText).c_str());
}

std::string ChannelText(const std::vector<uint32_t>& counts) {
    std::string sText;
    for (size_t c = 0; c < counts.size(); ++c)
        sText += (c == 0 ? "" : c % kCountsPerLine == 0 ? "\n" : " ") + std::to_string(counts[c]);
    return sText;
}

std::string RoiRemark(const std::vector<RoiRun>& rois) {
    std::string sText = "ROI channels:";
    for (const RoiRun& roi : rois)
        sText += " " + std::to_string(roi.nFirst) + "-" + std::to_string(roi.nFirst + roi.nCount - 1);
    return sText;
}

// The elements of each parent in the order the schema's sequences give them.
void AddInstrument(pugi::xml_node root, const SpectrumRecord& record) {
    pugi::xml_node instrument = root.append_child("RadInstrumentInformation");
    instrument.append_attribute("id") = "instrument";
    AddText(instrument, "RadInstrumentManufacturerName", "Unknown");
    AddText(instrument, "RadInstrumentModelName", record.detector.sFamily);
    AddText(instrument, "RadInstrumentDescription", record.detector.sDescription);
    AddText(instrument, "RadInstrumentClassCode", "Other");
    pugi::xml_node version = instrument.append_child("RadInstrumentVersion");
    AddText(version, "RadInstrumentComponentName", "Firmware");
    AddText(version, "RadInstrumentComponentVersion", record.detector.sVersion);
}

void AddDetector(pugi::xml_node root, const SpectrumRecord& record) {
    pugi::xml_node detector = root.append_child("RadDetectorInformation");
    detector.append_attribute("id") = "detector";
    AddText(detector, "RadDetectorCategoryCode", "Gamma");
    AddText(detector, "RadDetectorKindCode", "Other");
    AddText(detector, "RadDetectorDescription",
            "MCB " + std::to_string(record.detector.nMcb) + " detector " + std::to_string(record.detector.nDet));
}

void AddMeasurement(pugi::xml_node root, const SpectrumRecord& record) {
    pugi::xml_node measurement = root.append_child("RadMeasurement");
    measurement.append_attribute("id") = "measurement";
    AddText(measurement, "MeasurementClassCode", "Foreground");
    if (record.bHasStart) AddText(measurement, "StartDateTime", IsoDateTime(record.start));
    if (record.bHasTrue) AddText(measurement, "RealTimeDuration", Duration(record.trueSeconds()));
    pugi::xml_node spectrum = measurement.append_child("Spectrum");
    spectrum.append_attribute("id") = "spectrum";
    spectrum.append_attribute("radDetectorInformationReference") = "detector";
    if (!record.spectrum.rois.empty()) AddText(spectrum, "Remark", RoiRemark(record.spectrum.rois));
    if (record.bHasLive) AddText(spectrum, "LiveTimeDuration", Duration(record.liveSeconds()));
    pugi::xml_node channels = spectrum.append_child("ChannelData");
    channels.append_attribute("compressionCode") = "None";
    channels.text().set(ChannelText(record.spectrum.counts).c_str());
}

// Element names with or without a namespace prefix.
bool IsNamed(const pugi::xml_node& node, const char* pszLocal) {
    const char* pszName = node.name();
    const char* pszColon = strchr(pszName, ':');
    return strcmp(pszColon != nullptr ? pszColon + 1 : pszName, pszLocal) == 0;
}

pugi::xml_node Child(const pugi::xml_node& parent, const char* pszLocal) {
    for (pugi::xml_node child : parent.children())
        if (IsNamed(child, pszLocal)) return child;
    return pugi::xml_node();
}

// "PT1H2M3.5S" and its shorter forms, in seconds; false for anything else.
bool ParseDuration(const char* pszText, double& dSeconds) {
    if (strncmp(pszText, "PT", 2) != 0) return false;
    dSeconds = 0;
    const char* p = pszText + 2;
    while (*p != '\0') {
        char* pEnd = nullptr;
        const double dValue = strtod(p, &pEnd);
        if (pEnd == p || dValue < 0) return false;
        const double dUnit = *pEnd == 'H' ? 3600 : *pEnd == 'M' ? 60 : *pEnd == 'S' ? 1 : -1;
        if (dUnit < 0) return false;
        dSeconds += dValue * dUnit;
        p = pEnd + 1;
    }
    return std::isfinite(dSeconds) && dSeconds < 1e8;
}

bool ReadDuration(const pugi::xml_node& parent, const char* pszName, bool& bHas, uint32_t& dwTicks) {
    const pugi::xml_node node = Child(parent, pszName);
    if (!node) return true;
    double dSeconds = 0;
    if (!ParseDuration(node.child_value(), dSeconds)) return false;
    dwTicks = static_cast<uint32_t>(std::lround(dSeconds / kSecondsPerTick));
    bHas = true;
    return true;
}

bool ReadStart(const pugi::xml_node& measurement, SpectrumRecord& record) {
    const pugi::xml_node node = Child(measurement, "StartDateTime");
    if (!node) return true;
    CivilTime& t = record.start;
    record.bHasStart = sscanf(node.child_value(), "%d-%d-%dT%d:%d:%d", &t.nYear, &t.nMonth, &t.nDay, &t.nHour,
                              &t.nMinute, &t.nSecond) == 6;
    return record.bHasStart;
}

// "0 N" stands for N empty channels when the zeroes are counted.
bool ReadChannels(const pugi::xml_node& data, std::vector<uint32_t>& counts, std::string& sError) {
    constexpr size_t kMaxChannels = size_t{1} << 20;
    const bool bCountedZeroes = strcmp(data.attribute("compressionCode").as_string("None"), "CountedZeroes") == 0;
    std::istringstream words(data.child_value());
    for (std::string sWord; words >> sWord;) {
        char* pEnd = nullptr;
        const double dValue = strtod(sWord.c_str(), &pEnd);
        if (*pEnd != '\0' || !(dValue >= 0 && dValue <= 4294967295.0)) {
            sError = "ChannelData holds '" + sWord + "', not a count";
            return false;
        }
        size_t nRepeat = 1;
        if (bCountedZeroes && dValue == 0 && words >> sWord) nRepeat = static_cast<size_t>(strtoul(sWord.c_str(), nullptr, 10));
        if (counts.size() + nRepeat > kMaxChannels) {
            sError = "ChannelData holds more than " + std::to_string(kMaxChannels) + " channels";
            return false;
        }
        counts.insert(counts.end(), nRepeat, static_cast<uint32_t>(std::lround(dValue)));
    }
    return true;
}

// "ROI channels: 100-119 300-340", as the writer puts it.
void ReadRois(const pugi::xml_node& spectrum, std::vector<RoiRun>& rois) {
    const char* pszRemark = Child(spectrum, "Remark").child_value();
    const char* pszList = strchr(pszRemark, ':');
    if (strncmp(pszRemark, "ROI channels:", 13) != 0 || pszList == nullptr) return;
    std::istringstream words(pszList + 1);
    for (std::string sWord; words >> sWord;) {
        size_t nFirst = 0;
        size_t nLast = 0;
        if (sscanf(sWord.c_str(), "%zu-%zu", &nFirst, &nLast) == 2 && nLast >= nFirst)
            rois.push_back(RoiRun{nFirst, nLast - nFirst + 1});
    }
}

}  // namespace

bool ParseN42(const std::string& sText, SpectrumRecord& record, std::string& sError) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(sText.data(), sText.size());
    if (!parsed) {
        sError = std::string("not well-formed XML at byte ") + std::to_string(parsed.offset) + ": " + parsed.description();
        return false;
    }
    const pugi::xml_node root = document.document_element();
    const pugi::xml_node measurement = Child(root, "RadMeasurement");
    const pugi::xml_node spectrum = Child(measurement, "Spectrum");
    const pugi::xml_node data = Child(spectrum, "ChannelData");
    if (!IsNamed(root, "RadInstrumentData") || !data) {
        sError = "no RadInstrumentData/RadMeasurement/Spectrum/ChannelData";
        return false;
    }
    const pugi::xml_node description = Child(Child(root, "RadInstrumentInformation"), "RadInstrumentDescription");
    if (description) record.detector.sDescription = description.child_value();
    if (!ReadDuration(spectrum, "LiveTimeDuration", record.bHasLive, record.dwLiveTicks) ||
        !ReadDuration(measurement, "RealTimeDuration", record.bHasTrue, record.dwTrueTicks) || !ReadStart(measurement, record)) {
        sError = "a duration or the start time is not as expected";
        return false;
    }
    ReadRois(spectrum, record.spectrum.rois);
    return ReadChannels(data, record.spectrum.counts, sError);
}

std::string N42Text(const SpectrumRecord& record) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = document.append_child("RadInstrumentData");
    root.append_attribute("xmlns") = kN42Namespace;
    AddText(root, "RadInstrumentDataCreatorName", "linkbay");
    AddInstrument(root, record);
    AddDetector(root, record);
    AddMeasurement(root, record);
    std::ostringstream text;
    document.save(text, "  ");
    return text.str();
}

}  // namespace linkbay_host
