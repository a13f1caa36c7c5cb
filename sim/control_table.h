// Control commands as tables: each row carries the command word, what
// carries it out and its line of help, so that neither can be added without
// the other.
#pragma once

#include <cstddef>
#include <string>

namespace linkbay {
namespace sim {

template <typename Handler>
struct ControlRow {
    const char* word;
    Handler handler;
    const char* help;  // one or more lines, each without its line end
};

// The row of the word, or null.
template <typename Row, size_t N>
const Row* FindControl(const Row (&rows)[N], const std::string& word) {
    for (const Row& row : rows) {
        if (word == row.word) return &row;
    }
    return nullptr;
}

template <typename Row, size_t N>
std::string ControlHelpText(const Row (&rows)[N]) {
    std::string text;
    for (const Row& row : rows) text += std::string(row.help) + "\n";
    return text;
}

}  // namespace sim
}  // namespace linkbay
