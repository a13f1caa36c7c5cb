// Answers that every family with a 4096-channel, one-input instrument gives
// alike: the identification texts the add-in parses, and the high-voltage
// flag word of the status reports.
#pragma once

#include <cstdint>

#include "drivers/common/dispatch.h"

namespace linkbay {

// $J: 4096 channels, 1 input, the channels in use, then zero fields.
bool AnswerConfiguration(Answer& answer, uint32_t nChannelsInUse);
bool AnswerConfigurationMask(Answer& answer);
// $F: the line speed as "%6.6dN81".
bool AnswerUart(Answer& answer, uint32_t nBaudRate);

// 2, or 6 with the supply on; plus 1 for a negative voltage.
constexpr uint32_t HvFlagWord(bool bOn, bool bNegative) { return (bOn ? 6u : 2u) + (bNegative ? 1u : 0u); }

}  // namespace linkbay
