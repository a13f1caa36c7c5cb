#include "spectrum_n42.h"

#include <cstdio>
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

}  // namespace

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
