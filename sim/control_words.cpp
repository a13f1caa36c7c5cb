#include "sim/control_words.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace linkbay {
namespace sim {

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

namespace {
// strto* skip leading white space, take a sign, guess octal from a leading 0
// and stop at a NUL inside the word: every character is checked here first.
bool AllDigits(const std::string& text, bool hex) {
    if (text.empty()) return false;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(hex ? std::isxdigit(u) : std::isdigit(u))) return false;
    }
    return true;
}

bool IsHexWord(const std::string& word) {
    return word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
}
}  // namespace

bool ParseUnsigned(const std::string& word, uint64_t& value) {
    const bool hex = IsHexWord(word);
    const std::string digits = hex ? word.substr(2) : word;
    if (!AllDigits(digits, hex)) return false;
    errno = 0;
    const unsigned long long parsed = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno != 0) return false;
    value = parsed;
    return true;
}

bool ParseSigned(const std::string& word, int64_t& value) {
    const size_t sign = !word.empty() && (word[0] == '-' || word[0] == '+') ? 1 : 0;
    if (!AllDigits(word.substr(sign), false)) return false;
    errno = 0;
    const long long parsed = std::strtoll(word.c_str(), nullptr, 10);
    if (errno != 0) return false;
    value = parsed;
    return true;
}

bool ParseNumber(const std::string& word, int64_t& value) {
    uint64_t magnitude = 0;
    if (!word.empty() && word[0] == '-') return ParseSigned(word, value);
    if (!ParseUnsigned(word, magnitude) || magnitude > INT64_MAX) return false;
    value = static_cast<int64_t>(magnitude);
    return true;
}

bool ParseReal(const std::string& word, double& value) {
    if (word.empty() || std::isspace(static_cast<unsigned char>(word[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(word.c_str(), &end);
    if (errno != 0 || end != word.c_str() + word.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

std::string Ok(const std::string& text) { return text.empty() ? "ok\n" : "ok " + text + "\n"; }
std::string Err(const std::string& text) { return "err " + text + "\n"; }

}  // namespace sim
}  // namespace linkbay
