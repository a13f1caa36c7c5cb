// JSON text for the host's machine-readable output.
#pragma once

#include <string>

namespace linkbay_host {

// The text as a JSON string, quoted, with control characters escaped and
// bytes that are not UTF-8 replaced, so that any instrument text gives valid JSON.
std::string JsonString(const std::string& sText);

}  // namespace linkbay_host
