// Drives a simulated instrument in process, without a pty, with a mix of
// wire bytes (framed and answered as the serving loop does), control lines
// (through Simulator::control, the control server's entry) and steps of time.
// Beyond the sanitizers it checks that framing consumes noise, that control
// replies end in exactly one "ok"/"err" line, and that counts read back as
// they were set; each family's target checks its wire replies.
//
// Input: a sequence of steps, each an op byte, then
//   op % 4 == 0: a length byte and that many wire bytes, answered;
//   op % 4 == 1: the same, refused (as a planned 'reject' fault does);
//   op % 4 == 2: a length byte and that much control text, cut at '\n';
//   op % 4 == 3: two bytes, little-endian, of milliseconds to advance (longer
//                steps, up to the hour the protocol allows, come as 'advance' lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/instrument_model.h"

namespace linkbay {
namespace fuzz {

// Traps, naming the check's place, when the condition does not hold.
void Require(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE());
bool StartsWith(const std::string& text, const std::string& prefix);

struct WireFamily {
    const char* model;
    // The most bytes the model may hold back as an incomplete request.
    size_t longestPending;
    // Checks one reply; refused: it is the model's rejection of the request.
    void (*checkReply)(const sim::InstrumentModel& model, const std::string& request, const std::string& reply,
                       bool refused);
};

// Runs the whole input against a fresh simulator of the family's model.
void RunSimFuzz(const WireFamily& family, const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace linkbay
