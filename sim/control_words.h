// Parsing helpers of the control protocol: words of a line and strict numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace linkbay {
namespace sim {

std::vector<std::string> SplitWords(const std::string& line);
// Whole-word decimal (or 0x hexadecimal) numbers; false on anything else.
bool ParseUnsigned(const std::string& word, uint64_t& value);
bool ParseSigned(const std::string& word, int64_t& value);
// A number as a person writes one: decimal, 0x hexadecimal, or negative.
bool ParseNumber(const std::string& word, int64_t& value);
bool ParseReal(const std::string& word, double& value);
std::string Ok(const std::string& text = std::string());
std::string Err(const std::string& text);

}  // namespace sim
}  // namespace linkbay
