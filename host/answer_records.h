// Reading the "$" answer records a driver writes: a kind letter, fixed-width
// decimal fields or a text, and for most kinds three checksum digits (the
// sum of the bytes before them, modulo 256).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace linkbay_host {

// Live and true times, and their presets, count ticks of 20 ms.
constexpr int kTicksPerSecond = 50;
constexpr double kSecondsPerTick = 1.0 / kTicksPerSecond;

struct AnswerRecord {
    char cKind = 0;
    std::vector<uint32_t> fields;  // the numeric kinds: A C D G M N
    std::string sText;             // F and J: the text; I: "T" or "F"
    bool bHasChecksum = false;
    bool bChecksumOk = false;
};

// False for a line that is no record of a known kind, or whose fields are
// not all digits; a wrong checksum still parses, with bChecksumOk false.
bool ParseAnswerRecord(const std::string& sLine, AnswerRecord& record);

// The lines of a response, without their line ends.
std::vector<std::string> ResponseLines(const std::string& sResponse);

// The unsigned value of the first numeric record ($A, $C, $G) in a response;
// false when the response holds none.
bool RecordValue(const std::string& sResponse, uint32_t& dwValue);

// The three numbers of a "$N" record (a date or a clock time); false otherwise.
bool RecordTriple(const std::string& sResponse, uint32_t (&values)[3]);

// What a record says, in words: "$G0000000700082" after SHOW_LIVE is
// "700 ticks = 14.00 s"; a $N record after a DATE command is a date.
// sLine is the command line it answers, which names what the numbers are.
std::string DescribeRecord(const std::string& sRecord, const std::string& sLine);

// What an error pair means, in words ("0/0": "done").
std::string ExplainErrorPair(int32_t nMac, int32_t nMic);

}  // namespace linkbay_host
