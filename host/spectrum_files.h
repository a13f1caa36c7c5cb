// Spectrum files for analysis software: CSV, IAEA SPE, ANSI N42.42 XML and
// JSON, chosen by name or by the file's extension, written whole or not at all.
#pragma once

#include <string>

#include "spectrum_record.h"

namespace linkbay_host {

enum class SpectrumFormat { Csv, Spe, N42, Json };

// The format a --format value names, else the one the path's extension
// names, else CSV; false with a message that lists the choices.
bool ChooseSpectrumFormat(const std::string& sFormatName, const std::string& sPath, SpectrumFormat& format,
                          std::string& sError);

// The whole text of the file; false with a message when this build cannot
// write the format.
bool FormatSpectrum(const SpectrumRecord& record, SpectrumFormat format, std::string& sText, std::string& sError);

// Reads a file of one of the formats above (JSON excepted) back, by its
// extension; false with a message saying what was wrong where.
bool LoadSpectrumFile(const std::string& sPath, SpectrumRecord& record, std::string& sError);

// Writes a temporary file beside sPath and renames it into place, so that a
// reader never sees half a file and a failure leaves none behind.
bool WriteFileWhole(const std::string& sPath, const std::string& sText, std::string& sError);

// The format names, for help texts: "csv, spe, n42, json".
std::string SpectrumFormatNames();

}  // namespace linkbay_host
