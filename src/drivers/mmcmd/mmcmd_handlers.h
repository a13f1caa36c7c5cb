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

// An answer's record writer's outcome is the command's result; the
// instrument's pair stays as it came.
inline bool WrittenAsIs(bool bWritten) { return bWritten; }

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
