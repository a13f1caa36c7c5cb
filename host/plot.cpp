#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <cairo-svg.h>
#include <cairo.h>

#include "spectrum_files.h"

namespace linkbay_host {
namespace {

struct Rgb {
    double r, g, b;
};
constexpr Rgb kBackground{1, 1, 1};
constexpr Rgb kAxes{0, 0, 0};
constexpr Rgb kCounts{0, 70 / 255.0, 170 / 255.0};
constexpr Rgb kRoi{1, 224 / 255.0, 153 / 255.0};  // opaque, under the counts
constexpr Rgb kGrid{0.88, 0.88, 0.88};

constexpr double kLeft = 80, kRight = 24, kTop = 44, kBottom = 56;
constexpr double kFontSize = 12;

void SetColour(cairo_t* cr, const Rgb& colour) { cairo_set_source_rgb(cr, colour.r, colour.g, colour.b); }

// The plot area and how counts and channels map into it.
struct Frame {
    double x0, y0, width, height;  // y0: the bottom edge
    size_t nChannels;
    bool bLog;
    double dTop;  // counts at the top edge (a power of ten when logarithmic)

    double x(double dChannel) const { return x0 + dChannel / static_cast<double>(nChannels) * width; }
    double y(double dCounts) const {
        const double dShare = bLog ? std::log10(std::max(dCounts, 1.0)) / std::log10(dTop) : dCounts / dTop;
        return y0 - std::min(dShare, 1.0) * height;
    }
};

// 1, 2 or 5 times a power of ten, at least dRough.
double NiceStep(double dRough) {
    const double dPower = std::pow(10.0, std::floor(std::log10(std::max(dRough, 1e-9))));
    for (double dFactor : {1.0, 2.0, 5.0, 10.0})
        if (dFactor * dPower >= dRough) return dFactor * dPower;
    return 10 * dPower;
}

std::string Number(double dValue) {
    char szText[32];
    if (dValue >= 1e6)
        snprintf(szText, sizeof szText, "%.0e", dValue);
    else
        snprintf(szText, sizeof szText, "%.0f", dValue);
    return szText;
}

void Text(cairo_t* cr, double x, double y, const std::string& sText, double dAlignX) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, sText.c_str(), &extents);
    cairo_move_to(cr, x - extents.width * dAlignX - extents.x_bearing, y);
    cairo_show_text(cr, sText.c_str());
}

void DrawRois(cairo_t* cr, const Frame& frame, const std::vector<RoiRun>& rois) {
    SetColour(cr, kRoi);
    for (const RoiRun& roi : rois) {
        if (roi.nFirst >= frame.nChannels) continue;
        const double xFirst = std::round(frame.x(static_cast<double>(roi.nFirst)));
        const double xEnd = std::round(frame.x(static_cast<double>(std::min(roi.nFirst + roi.nCount, frame.nChannels))));
        cairo_rectangle(cr, xFirst, frame.y0 - frame.height, std::max(1.0, xEnd - xFirst), frame.height);
    }
    cairo_fill(cr);
}

void DrawXAxis(cairo_t* cr, const Frame& frame) {
    const double dStep = NiceStep(static_cast<double>(frame.nChannels) / 8);
    for (double dChannel = 0; dChannel <= static_cast<double>(frame.nChannels); dChannel += dStep) {
        SetColour(cr, kGrid);
        cairo_move_to(cr, std::round(frame.x(dChannel)) + 0.5, frame.y0);
        cairo_line_to(cr, std::round(frame.x(dChannel)) + 0.5, frame.y0 - frame.height);
        cairo_stroke(cr);
        SetColour(cr, kAxes);
        Text(cr, frame.x(dChannel), frame.y0 + 18, Number(dChannel), 0.5);
    }
    Text(cr, frame.x0 + frame.width / 2, frame.y0 + 40, "channel", 0.5);
}

void DrawYAxis(cairo_t* cr, const Frame& frame) {
    std::vector<double> ticks;
    if (frame.bLog) {
        for (double d = 1; d <= frame.dTop; d *= 10) ticks.push_back(d);
    } else {
        const double dStep = NiceStep(frame.dTop / 6);
        for (double d = 0; d <= frame.dTop + dStep / 2; d += dStep) ticks.push_back(d);
    }
    for (double dTick : ticks) {
        SetColour(cr, kGrid);
        cairo_move_to(cr, frame.x0, std::round(frame.y(dTick)) + 0.5);
        cairo_line_to(cr, frame.x0 + frame.width, std::round(frame.y(dTick)) + 0.5);
        cairo_stroke(cr);
        SetColour(cr, kAxes);
        Text(cr, frame.x0 - 6, frame.y(dTick) + kFontSize / 3, Number(dTick), 1.0);
    }
    cairo_save(cr);
    cairo_translate(cr, 24, frame.y0 - frame.height / 2);
    cairo_rotate(cr, -M_PI / 2);
    Text(cr, 0, 0, frame.bLog ? "counts (log)" : "counts", 0.5);
    cairo_restore(cr);
}

// Each column of pixels shows the highest count among its channels, so a
// narrow peak stays visible however many channels share a pixel.
void DrawCounts(cairo_t* cr, const Frame& frame, const std::vector<uint32_t>& counts) {
    const size_t nColumns = std::max<size_t>(1, static_cast<size_t>(frame.width));
    const size_t nSteps = std::min(nColumns, counts.size());
    SetColour(cr, kCounts);
    cairo_set_line_width(cr, 1.0);
    for (size_t i = 0; i < nSteps; ++i) {
        const size_t nFirst = i * counts.size() / nSteps;
        const size_t nEnd = std::max(nFirst + 1, (i + 1) * counts.size() / nSteps);
        const uint32_t nHighest = *std::max_element(counts.begin() + static_cast<long>(nFirst), counts.begin() + static_cast<long>(nEnd));
        const double y = frame.y(nHighest);
        if (i == 0)
            cairo_move_to(cr, frame.x(static_cast<double>(nFirst)), y);
        else
            cairo_line_to(cr, frame.x(static_cast<double>(nFirst)), y);
        cairo_line_to(cr, frame.x(static_cast<double>(nEnd)), y);
    }
    cairo_stroke(cr);
}

void Draw(cairo_t* cr, const SpectrumRecord& record, const PlotRequest& request) {
    const std::vector<uint32_t>& counts = record.spectrum.counts;
    const double dHighest = counts.empty() ? 1 : std::max(1.0, static_cast<double>(*std::max_element(counts.begin(), counts.end())));
    Frame frame{kLeft, request.nHeight - kBottom, request.nWidth - kLeft - kRight, request.nHeight - kTop - kBottom,
                std::max<size_t>(1, counts.size()), request.bLog,
                request.bLog ? std::max(10.0, std::pow(10.0, std::ceil(std::log10(dHighest)))) : dHighest * 1.05};
    SetColour(cr, kBackground);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
    cairo_set_line_width(cr, 1.0);
    DrawRois(cr, frame, record.spectrum.rois);
    DrawXAxis(cr, frame);
    DrawYAxis(cr, frame);
    DrawCounts(cr, frame, counts);
    SetColour(cr, kAxes);
    cairo_rectangle(cr, frame.x0 + 0.5, frame.y0 - frame.height + 0.5, frame.width, frame.height);
    cairo_stroke(cr);
    cairo_set_font_size(cr, kFontSize + 2);
    Text(cr, request.nWidth / 2.0, kTop / 2 + 5, PlotTitle(record), 0.5);
}

cairo_status_t Collect(void* pClosure, const unsigned char* pData, unsigned int nLength) {
    static_cast<std::string*>(pClosure)->append(reinterpret_cast<const char*>(pData), nLength);
    return CAIRO_STATUS_SUCCESS;
}

// The picture's bytes: cairo writes them to a string, written whole after.
bool Render(const SpectrumRecord& record, const PlotRequest& request, bool bSvg, std::string& sBytes) {
    cairo_surface_t* pSurface =
        bSvg ? cairo_svg_surface_create_for_stream(Collect, &sBytes, request.nWidth, request.nHeight)
             : cairo_image_surface_create(CAIRO_FORMAT_RGB24, request.nWidth, request.nHeight);
    cairo_t* cr = cairo_create(pSurface);
    Draw(cr, record, request);
    const bool bDrawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    // An SVG surface writes when it is finished; a finished image surface can no longer be written.
    if (bSvg) cairo_surface_finish(pSurface);
    const bool bWritten = bSvg || cairo_surface_write_to_png_stream(pSurface, Collect, &sBytes) == CAIRO_STATUS_SUCCESS;
    const bool bOk = bDrawn && bWritten && cairo_surface_status(pSurface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(pSurface);
    return bOk;
}

}  // namespace

std::string PlotTitle(const SpectrumRecord& record) {
    const DetectorRow& detector = record.detector;
    std::string sTitle = detector.nMcb != 0 ? "MCB " + std::to_string(detector.nMcb) + " detector " +
                                                  std::to_string(detector.nDet) + "  " + detector.sFamily + " " +
                                                  detector.sVersion + "  " + detector.sDescription
                                            : detector.sDescription;
    char szTimes[96];
    if (record.bHasLive && record.bHasTrue) {
        snprintf(szTimes, sizeof szTimes, "  live %.2f s  true %.2f s", record.liveSeconds(), record.trueSeconds());
        sTitle += szTimes;
    }
    if (record.bHasStart) sTitle += "  start " + IsoDateTime(record.start);
    return sTitle;
}

bool PlotSpectrum(const SpectrumRecord& record, const PlotRequest& request, std::string& sError) {
    constexpr int kMinSize = 200;
    constexpr int kMaxSize = 10000;
    if (request.nWidth < kMinSize || request.nHeight < kMinSize || request.nWidth > kMaxSize || request.nHeight > kMaxSize) {
        sError = "the picture must be " + std::to_string(kMinSize) + " to " + std::to_string(kMaxSize) + " pixels each way";
        return false;
    }
    std::string sExtension = std::filesystem::path(request.sOutput).extension().string();
    for (char& c : sExtension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (sExtension != ".png" && sExtension != ".svg") {
        sError = "the picture's file must end in .png or .svg, not '" + request.sOutput + "'";
        return false;
    }
    std::string sBytes;
    if (!Render(record, request, sExtension == ".svg", sBytes)) {
        sError = "cairo could not draw the picture";
        return false;
    }
    return WriteFileWhole(request.sOutput, sBytes, sError);
}

}  // namespace linkbay_host
