// The handlers of the numbered-command translation, shared by the dispatch
// table (mmcmd_commands.cpp) and the settings, listings and labels that the
// driver itself knows (mmcmd_settings.cpp).
#pragma once

#include <cstdint>

#include "drivers/common/dispatch.h"
#include "drivers/mmcmd/mmcmdci.h"

namespace linkbay {
namespace mmcmd {

// A row's device field is a number the handler needs: a text length, a
// default argument or a record kind.
using Row = DispatchRow<MMCMDCI, int32_t>;
using Handler = bool (*)(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);

// The instrument's command of a line is the line's code.
inline uint16_t Command(const ParsedCommand& cmd) { return static_cast<uint16_t>(cmd.nCode); }

// A line the driver turns down itself: the pair says why, nothing was done.
inline bool Refused(Answer& answer, int32_t nMic) {
    Refuse(answer, nMic);
    return false;
}

// A record writer's outcome is the command's result: these families leave the
// instrument's pair as it came when the caller's buffer is too small.

// Settings converted between engineering units and register values,
// VERIFY, LIST, label tables, labelled numbers and fixed answers.
bool SetConverted(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowConverted(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool Verify(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool List(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowLabel(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowGate(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowLabelledNumber(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowLabelledPair(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowFixedDevice(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowFeatures(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);
bool ShowConfigurationMask(MMCMDCI& driver, const Row& row, const ParsedCommand& cmd, Answer& answer);

// The rounding of converted settings: ties go up, values below the range
// give its minimum, values above it its maximum.
double Quantize(double dValue, double dMin, double dMax, double dStep, int32_t* pnIndex);

}  // namespace mmcmd
}  // namespace linkbay
