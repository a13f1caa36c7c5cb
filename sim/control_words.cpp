#include "sim/control_words.h"

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

bool ParseUnsigned(const std::string& word, uint64_t& value) {
    if (word.empty() || word[0] == '-' || word[0] == '+' || word[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(word.c_str(), &end, 0);
    if (errno != 0 || end == word.c_str() || *end != '\0') return false;
    value = parsed;
    return true;
}

bool ParseSigned(const std::string& word, int64_t& value) {
    if (word.empty() || word[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || end == word.c_str() || *end != '\0') return false;
    value = parsed;
    return true;
}

bool ParseReal(const std::string& word, double& value) {
    if (word.empty() || word[0] == ' ') return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(word.c_str(), &end);
    if (errno != 0 || end == word.c_str() || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

std::string Ok(const std::string& text) { return text.empty() ? "ok\n" : "ok " + text + "\n"; }
std::string Err(const std::string& text) { return "err " + text + "\n"; }

}  // namespace sim
}  // namespace linkbay
