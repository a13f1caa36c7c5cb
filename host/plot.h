// linkbay plot: a picture of a spectrum (PNG or SVG, drawn with cairo; not
// in Windows builds): counts against channel, linear or logarithmic, ROIs
// shaded, a title with the detector and its times.
#pragma once

#include <string>

#include "spectrum_record.h"

namespace linkbay_host {

struct PlotRequest {
    std::string sOutput;  // .png or .svg
    bool bLog = false;
    int nWidth = 1000;
    int nHeight = 600;
};

// The title line: detector, family and version, times and start, as known.
std::string PlotTitle(const SpectrumRecord& record);

// Draws the picture and writes it whole; false with a message.
bool PlotSpectrum(const SpectrumRecord& record, const PlotRequest& request, std::string& sError);

}  // namespace linkbay_host
