// ANSI N42.42 XML of a spectrum, written with pugixml (not in Windows builds).
#pragma once

#include <string>

#include "spectrum_record.h"

namespace linkbay_host {

// The namespace of the 2011 edition's documents.
constexpr const char* kN42Namespace = "http://physics.nist.gov/N42/2011/N42";

std::string N42Text(const SpectrumRecord& record);
// The counts, times, start and ROIs of an N42 text; false with a message.
bool ParseN42(const std::string& sText, SpectrumRecord& record, std::string& sError);

}  // namespace linkbay_host
