// Every result the library reports, by name: the error pairs (macro error,
// micro error) that commands answer with, and the codes of the operations
// that return a number. 0/0 is success.
#pragma once

#include <cstdint>

namespace linkbay {

// ---- error pairs: macro errors ---------------------------------------------
constexpr int32_t kMacWordError = 129;     // micro: 1 verb + 2 noun + 4 modifier unknown
constexpr int32_t kMacCommandError = 131;  // micro says which (below)
constexpr int32_t kMacRejected = -1;       // the instrument refused the request
constexpr int32_t kMacNotServed = -1;      // a detector the driver does not serve
constexpr int32_t kMacNotSent = -3;        // no valid reply after every attempt
constexpr int32_t kMacInvalidDetector = -9;  // no working instrument behind the detector

// ---- error pairs: micro errors ---------------------------------------------
constexpr int32_t kMicUnknownVerb = 1;
constexpr int32_t kMicUnknownNoun = 2;
constexpr int32_t kMicUnknownModifier = 4;
constexpr int32_t kMicPresetReached = 2;       // with mac 0: START found the preset reached
constexpr int32_t kMicSettingRounded = 64;     // with mac 0: a warning, not a failure
constexpr int32_t kMicArgRangeBase = 128;      // + slot of the first argument out of range
constexpr int32_t kMicArgFirst = kMicArgRangeBase;
constexpr int32_t kMicArgSecond = kMicArgRangeBase + 1;  // the second argument, or the pair
constexpr int32_t kMicArgCount = 132;
constexpr int32_t kMicNoCommand = 133;         // empty verb, no row, or no action for the code
constexpr int32_t kMicBufferTooSmall = 134;    // the caller's response buffer
constexpr int32_t kMicNotWhileAcquiring = 136;
constexpr int32_t kMicReplyIncomplete = 137;
constexpr int32_t kMicNotStored = 138;         // the instrument took it, the settings file was not written

// ---- operations that return a number (spectra, ROIs, detector state) --------
constexpr int32_t kOpDone = 1;
constexpr int32_t kOpBadArguments = -1;      // also: not a valid detector
constexpr int32_t kOpNotRead = -3;           // the instrument's data could not be read
constexpr int32_t kOpInstrumentError = -6;   // the command behind the operation failed
constexpr int32_t kOpRefused = -10;          // the instrument cannot do this

// IsActive statuses that are not an instrument's own.
constexpr int32_t kStatusNotServed = -1;
constexpr int32_t kStatusNoAnswer = -3;

}  // namespace linkbay
