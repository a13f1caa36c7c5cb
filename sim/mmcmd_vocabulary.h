// The rows the simulated TAVO and PELLUX instruments are made of: every
// command number they know, what it takes and answers, and where each
// setting is stored. Shared by the tables and the model only.
#pragma once

#include <cstdint>

#include "sim/mmcmd_model.h"

namespace linkbay {
namespace sim {

enum class Input : uint8_t {
    kWords,     // 32-bit words, big-endian
    kText,      // one text with its NUL
    kWordText,  // a word, then a text with its NUL
    kTwoTexts,  // two texts, each with its NUL
};
enum class Output : uint8_t { kNothing, kWords, kText };

// The words a command takes: how many, and the values of each (but the index).
struct MmcmdModel::Rule {
    uint8_t fewest;
    uint8_t most;
    int64_t minimum;  // below 0: the words are two's complement
    int64_t maximum;
    bool powerOfTwo;

    bool takes(uint32_t word) const {
        const int64_t value = minimum < 0 ? static_cast<int64_t>(static_cast<int32_t>(word)) : static_cast<int64_t>(word);
        return value >= minimum && value <= maximum && (!powerOfTwo || (value & (value - 1)) == 0);
    }
};

struct MmcmdModel::Command {
    uint16_t code;
    const char* name;
    Input input;
    Rule rule;
    Output output;
    uint16_t answerBytes;  // what a request asks the answer to fill, at least
    int8_t indexAt;        // the word that picks one of an indexed register's values; -1: none
    uint16_t maxIndex;     // of an indexed register shown
    Handler handler;       // null: the register store carries the command out
};

// Where a command stores: into register `to` from word `at`, its words (or
// its text), or the fixed value.
struct MmcmdModel::Store {
    static constexpr int64_t kParams = -1;
    uint16_t from;
    uint16_t to;
    uint8_t at;
    int64_t fixed;
};

}  // namespace sim
}  // namespace linkbay
