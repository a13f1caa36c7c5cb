#include "sim/mmcmd_model.h"

#include <algorithm>
#include <cstdio>

#include "sim/byte_escapes.h"
#include "sim/control_words.h"
#include "sim/mmcmd_vocabulary.h"

namespace linkbay {
namespace sim {

namespace {

constexpr uint16_t kConversionGain = 112, kVersion = 158, kGate = 242, kShutdownList = 916;
constexpr uint16_t kHighVoltage = 118, kHighVoltageTarget = 120;
constexpr uint16_t kShowRoi = 140, kClearRoi = 7;
constexpr uint16_t kSetLive = 62;
constexpr uint16_t kIntegral = 121, kPeak = 134;
constexpr int kClockYearBase = 2000;  // the instrument keeps the year modulo 100
const CalendarTime kClockOrigin{kClockYearBase, 1, 1, 0, 0, 0};

// The 32-bit header fields and the values that make a frame of them.
struct HeaderField {
    size_t offset;
    uint32_t minimum;
    uint32_t maximum;
};
const HeaderField kHeaderFields[] = {
    {0, MmcmdModel::kHeaderBytes, MmcmdModel::kMaxRequest},  // total length
    {4, MmcmdModel::kMinReply, MmcmdModel::kMaxReply},       // reply length
};

// What is counted and preset, in the order of SHOW_STATUS's flag bits.
struct Tally {
    uint16_t shown;      // 0: answered by a command of its own
    uint16_t remaining;
    uint16_t preset;     // the register of the preset; 0 in it: none
    uint64_t (MmcmdModel::*elapsed)() const;
};
const Tally kTallies[] = {
    {125, 128, 127, &MmcmdModel::liveTicks},
    {154, 156, 155, &MmcmdModel::trueTicks},
    {0, 123, 122, &MmcmdModel::roiIntegral},
};
constexpr size_t kLiveTally = 0, kTrueTally = 1;

// Commands that read or set one half of a clock.
struct ClockHalf {
    uint16_t code;
    bool start;  // the clock when the run started, else the one running
    bool date;   // day, month, year; else hour, minute, second
};
const ClockHalf kClockHalves[] = {
    {104, false, true}, {152, false, false}, {105, true, true}, {153, true, false},
    {45, false, true},  {83, false, false},  {46, true, true},  {84, true, false},
};

struct GateChoice {
    uint16_t code;
    uint32_t value;  // what SET_GATE takes for it
    const char* text;
};
const GateChoice kGates[] = {{239, 0, "OFF"}, {240, 1, "COI"}, {241, 2, "ANT"}, {290, 3, "INH"}};
constexpr uint16_t kSetGateByValue = 938;

struct ClearKind {
    uint16_t code;
    bool counts;
    bool times;
};
const ClearKind kClears[] = {{2, true, true}, {3, true, true}, {4, false, true}, {5, true, false}};

template <typename Row, size_t N>
const Row* FindByCode(const Row (&rows)[N], uint16_t code) {
    for (const Row& row : rows) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

uint32_t GetBe32(const char* bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[i]);
    return value;
}

void PutBe32(std::string& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xff);
}

std::string WordBytes(std::initializer_list<uint64_t> words) {
    std::string bytes;
    for (uint64_t word : words) PutBe32(bytes, static_cast<uint32_t>(std::min<uint64_t>(word, 0xffffffffu)));
    return bytes;
}

bool Refuses(uint16_t pair) { return pair >> 8 != 0; }

// Whether a big-endian field of which `count` bytes (0 to 4) have come may
// still hold a value within the bounds.
bool MayHold(const char* bytes, size_t count, uint32_t minimum, uint32_t maximum) {
    uint64_t low = 0;
    for (size_t i = 0; i < 4; ++i) low = low << 8 | (i < count ? static_cast<uint8_t>(bytes[i]) : 0u);
    const uint64_t high = count >= 4 ? low : low | ((uint64_t{1} << (8 * (4 - count))) - 1);
    return high >= minimum && low <= maximum;
}

bool MayStartFrame(const char* bytes, size_t count) {
    for (const HeaderField& field : kHeaderFields) {
        const size_t given = count > field.offset ? std::min<size_t>(count - field.offset, 4) : 0;
        if (!MayHold(bytes + field.offset, given, field.minimum, field.maximum)) return false;
    }
    return true;
}

// Resynchronises after noise: the first offset where a frame may start, as
// far as its header has come (count when there is none).
size_t FrameStart(const char* bytes, size_t count) {
    size_t at = 0;
    while (at < count && !MayStartFrame(bytes + at, count - at)) ++at;
    return at;
}

struct Frame {
    uint32_t replyLength = 0;
    uint16_t code = 0;
    std::string params;
};

// The frame a request ends with, after any noise; false for noise alone.
bool ParseFrame(const std::string& request, Frame& frame) {
    const size_t at = FrameStart(request.data(), request.size());
    if (request.size() - at < MmcmdModel::kHeaderBytes || at + GetBe32(&request[at]) != request.size()) return false;
    frame.replyLength = GetBe32(&request[at + 4]);
    frame.code = static_cast<uint16_t>(static_cast<uint8_t>(request[at + 8]) | static_cast<uint8_t>(request[at + 9]) << 8);
    frame.params = request.substr(at + MmcmdModel::kHeaderBytes);
    return true;
}

// Exactly the length announced: the pair, then the data cut or padded with zeros.
std::string Reply(uint32_t length, uint16_t pair, const std::string& data) {
    std::string reply(length, '\0');
    reply[0] = static_cast<char>(pair >> 8);
    reply[1] = static_cast<char>(pair & 0xff);
    std::copy_n(data.begin(), std::min<size_t>(data.size(), length - 2), reply.begin() + 2);
    return reply;
}

// Exactly `count` texts, each with its NUL, and nothing after them.
bool SplitTexts(const std::string& bytes, size_t count, std::vector<std::string>& texts) {
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t end = bytes.find('\0', at);
        if (end == std::string::npos) return false;
        texts.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    return at == bytes.size();
}

// "CODE" or "CODE/INDEX".
bool ParseRegisterName(const std::string& word, uint16_t& code, uint32_t& index) {
    const size_t slash = word.find('/');
    uint64_t number = 0, picked = 0;
    if (!ParseUnsigned(word.substr(0, slash), number) || number > 0xffff) return false;
    if (slash != std::string::npos && (!ParseUnsigned(word.substr(slash + 1), picked) || picked > 0xffff)) return false;
    code = static_cast<uint16_t>(number);
    index = static_cast<uint32_t>(picked);
    return true;
}

// A 32-bit word as a person writes one: up to 4294967295, or down to -2147483648.
bool ParseWord(const std::string& text, uint32_t& word) {
    int64_t value = 0;
    if (!ParseNumber(text, value) || value < INT32_MIN || value > UINT32_MAX) return false;
    word = static_cast<uint32_t>(value);
    return true;
}

std::string WordsText(const std::string& data) {
    std::string text;
    for (size_t at = 0; at + 4 <= data.size(); at += 4) text += (at ? " " : "") + std::to_string(GetBe32(&data[at]));
    return text;
}

}  // namespace

MmcmdModel::MmcmdModel(const std::string& version) : AcquiringModel(kMaxMemory), m_roiMarks(kMaxMemory, false) {
    registerFor(kConversionGain)->words = {kDefaultMemory};
    registerFor(kVersion)->text = version;
    registerFor(kGate)->text = kGates[0].text;
    registerFor(kShutdownList)->text = "SHUTDOWN TTL KELDA SMART\n";
}

const MmcmdModel::Command* MmcmdModel::findCommand(uint16_t code) {
    for (size_t i = 0; i < kCommandCount; ++i) {
        if (kCommands[i].code == code) return &kCommands[i];
    }
    return nullptr;
}

// Noise before a frame goes with it; more noise than kMaxNoise goes alone,
// unanswered, so that the bytes held stay below kMaxNoise + kMaxRequest.
size_t MmcmdModel::requestLength(const char* bytes, size_t count) const {
    const size_t at = FrameStart(bytes, count);
    if (at > kMaxNoise) return at;
    if (count - at < 4) return 0;
    const uint32_t total = GetBe32(bytes + at);
    return count - at >= total ? at + total : 0;
}

// A configured pair with a macro refuses the command; one without replaces
// the 0/0 of a command carried out.
std::string MmcmdModel::answer(const std::string& request) {
    Frame frame;
    if (!ParseFrame(request, frame)) return std::string();
    const auto configured = m_errors.find(frame.code);
    const bool hasPair = configured != m_errors.end();
    if (hasPair && Refuses(configured->second)) return Reply(frame.replyLength, configured->second, std::string());
    std::string data;
    uint16_t pair = execute(frame.code, frame.params, data);
    if (pair == kNoError && hasPair) pair = configured->second;
    return Reply(frame.replyLength, pair, Refuses(pair) ? std::string() : data);
}

std::string MmcmdModel::rejection(const std::string& request) const {
    Frame frame;
    return ParseFrame(request, frame) ? Reply(frame.replyLength, kNoSuchCommand, std::string()) : std::string();
}

uint16_t MmcmdModel::execute(uint16_t code, const std::string& paramBytes, std::string& data) {
    const Command* command = findCommand(code);
    if (command == nullptr) return kNoSuchCommand;
    Params params;
    params.code = code;
    if (!parseParams(*command, paramBytes, params)) return kBadParameter;
    if (command->handler != nullptr) return (this->*(command->handler))(params, data);
    const uint16_t pair = storeParams(params);
    if (pair == kNoError && command->output != Output::kNothing) data = registerAnswer(*command, params.index);
    return pair;
}

bool MmcmdModel::parseParams(const Command& command, const std::string& bytes, Params& params) const {
    const size_t wordBytes = command.input == Input::kWords ? bytes.size() : command.input == Input::kWordText ? 4 : 0;
    if (wordBytes > bytes.size() || wordBytes % 4 != 0) return false;
    for (size_t at = 0; at < wordBytes; at += 4) params.words.push_back(GetBe32(&bytes[at]));
    const size_t texts = command.input == Input::kTwoTexts ? 2 : command.input == Input::kWords ? 0 : 1;
    if (!SplitTexts(bytes.substr(wordBytes), texts, params.texts)) return false;
    if (command.input == Input::kWords &&
        (params.words.size() < command.rule.fewest || params.words.size() > command.rule.most)) {
        return false;
    }
    const size_t indexAt = static_cast<size_t>(command.indexAt);
    if (command.indexAt >= 0 && params.words.size() > indexAt) {
        params.index = params.words[indexAt];
        params.words.erase(params.words.begin() + command.indexAt);
    }
    if (command.output != Output::kNothing && params.index > command.maxIndex) return false;
    for (uint32_t word : params.words) {
        if (!command.rule.takes(word)) return false;
    }
    return true;
}

// All or nothing: an index a register does not have, or no room for a new
// register, stores none of the command's values.
uint16_t MmcmdModel::storeParams(const Params& params) {
    size_t added = 0;
    for (size_t i = 0; i < kStoreCount; ++i) {
        const Store& store = kStores[i];
        if (store.from != params.code) continue;
        if (params.index > findCommand(store.to)->maxIndex) return kBadParameter;
        if (findRegister(store.to, params.index) == nullptr) ++added;
    }
    if (m_registers.size() + added > kMaxRegisters) return kNoRoom;
    for (size_t i = 0; i < kStoreCount; ++i) {
        const Store& store = kStores[i];
        if (store.from != params.code) continue;
        Register& target = *registerFor(store.to, params.index);
        if (store.fixed == Store::kParams && !params.texts.empty()) {
            target.text = params.texts.back();
            continue;
        }
        const std::vector<uint32_t> values =
            store.fixed == Store::kParams ? params.words : std::vector<uint32_t>{static_cast<uint32_t>(store.fixed)};
        if (target.words.size() < store.at + values.size()) target.words.resize(store.at + values.size());
        std::copy(values.begin(), values.end(), target.words.begin() + store.at);
    }
    followRegisters();
    return kNoError;
}

std::string MmcmdModel::registerAnswer(const Command& command, uint32_t index) const {
    const Register* stored = findRegister(command.code, index);
    std::string data;
    if (stored == nullptr) return data;
    if (command.output == Output::kText) return stored->text;
    for (uint32_t value : stored->words) PutBe32(data, value);
    return data;
}

size_t MmcmdModel::naturalAnswerBytes(const Command& command, uint32_t index) const {
    const Register* stored = command.handler == nullptr ? findRegister(command.code, index) : nullptr;
    size_t bytes = 0;
    if (stored != nullptr) bytes = command.output == Output::kText ? stored->text.size() + 1 : 4 * stored->words.size();
    return std::max<size_t>(bytes, command.answerBytes);
}

const MmcmdModel::Register* MmcmdModel::findRegister(uint16_t code, uint32_t index) const {
    const auto found = m_registers.find(Key(code, index));
    return found == m_registers.end() ? nullptr : &found->second;
}

MmcmdModel::Register* MmcmdModel::registerFor(uint16_t code, uint32_t index) {
    const auto found = m_registers.find(Key(code, index));
    if (found != m_registers.end()) return &found->second;
    if (m_registers.size() >= kMaxRegisters) return nullptr;
    return &m_registers[Key(code, index)];
}

uint32_t MmcmdModel::word(uint16_t code, size_t at) const {
    const Register* stored = findRegister(code);
    return stored != nullptr && at < stored->words.size() ? stored->words[at] : 0;
}

// The run follows the time presets wherever they were stored from.
void MmcmdModel::followRegisters() {
    const uint64_t live = word(kTallies[kLiveTally].preset, 0), real = word(kTallies[kTrueTally].preset, 0);
    setTimePresets(live ? live * kTickUs : kNoPreset, real ? real * kTickUs : kNoPreset);
}

uint32_t MmcmdModel::channelsInUse() const {
    const uint32_t gain = word(kConversionGain, 0);
    return std::max(1u, std::min(gain != 0 ? gain : m_memory, m_memory));
}

bool MmcmdModel::familyPresetReached() const { return statusFlags() & kIntegralPresetReached; }

uint64_t MmcmdModel::roiIntegral() const {
    if (m_roiRuns.empty()) return spectrum().sum(0, m_memory - 1);
    uint64_t total = 0;
    for (const Run& run : m_roiRuns) total += spectrum().sum(run.start, run.start + run.length - 1);
    return total;
}

uint32_t MmcmdModel::statusFlags() const {
    uint32_t flags = 0;
    for (size_t i = 0; i < sizeof kTallies / sizeof kTallies[0]; ++i) {
        const uint64_t preset = word(kTallies[i].preset, 0);
        if (preset != 0 && (this->*(kTallies[i].elapsed))() >= preset) flags |= 1u << i;
    }
    return flags | (word(kHighVoltage, 1) != 0 ? kHighVoltageOn : 0u);
}

void MmcmdModel::markRois(uint32_t first, uint32_t end, bool marked) {
    std::fill(m_roiMarks.begin() + first, m_roiMarks.begin() + end, marked);
    m_roiRuns.clear();
    for (uint32_t channel = 0; channel < m_memory; ++channel) {
        if (!m_roiMarks[channel]) continue;
        if (m_roiRuns.empty() || m_roiRuns.back().start + m_roiRuns.back().length != channel) {
            m_roiRuns.push_back({channel, 0});
        }
        ++m_roiRuns.back().length;
    }
}

bool MmcmdModel::channelsOf(const std::vector<uint32_t>& words, uint32_t& first, uint32_t& end) const {
    if (words.empty()) {
        first = 0;
        end = m_memory;
        return true;
    }
    if (words.size() < 2 || words[0] > m_memory || words[1] > m_memory - words[0]) return false;
    first = words[0];
    end = words[0] + words[1];
    return true;
}

void MmcmdModel::setMemory(uint32_t channels) {
    m_memory = channels;
    uint32_t gain = word(kConversionGain, 0);
    while (gain > m_memory) gain /= 2;
    registerFor(kConversionGain)->words = {gain};
    markRois(m_memory, kMaxMemory, false);
}

// ----- Commands of their own ----------------------------------------------------

uint16_t MmcmdModel::showActive(const Params&, std::string& data) {
    data = WordBytes({acquiring() ? 1u : 0u});
    return kNoError;
}

uint16_t MmcmdModel::showTimes(const Params& params, std::string& data) {
    for (const Tally& tally : kTallies) {
        if (tally.shown == params.code) data = WordBytes({(this->*tally.elapsed)()});
    }
    return kNoError;
}

uint16_t MmcmdModel::showRemaining(const Params& params, std::string& data) {
    for (const Tally& tally : kTallies) {
        if (tally.remaining != params.code) continue;
        const uint64_t preset = word(tally.preset, 0), elapsed = (this->*tally.elapsed)();
        data = WordBytes({preset > elapsed ? preset - elapsed : 0});
    }
    return kNoError;
}

uint16_t MmcmdModel::showStatus(const Params&, std::string& data) {
    data = WordBytes({liveTicks(), trueTicks(), acquiring() ? 1u : 0u, statusFlags()});
    return kNoError;
}

uint16_t MmcmdModel::showClock(const Params& params, std::string& data) {
    const ClockHalf& half = *FindByCode(kClockHalves, params.code);
    const CalendarTime time = half.start ? startTime() : clockNow();
    data = half.date ? WordBytes({static_cast<uint64_t>(time.day), static_cast<uint64_t>(time.month),
                                  static_cast<uint64_t>(time.year % 100)})
                     : WordBytes({static_cast<uint64_t>(time.hour), static_cast<uint64_t>(time.minute),
                                  static_cast<uint64_t>(time.second)});
    return kNoError;
}

// A half given to a clock not yet set finds 2000-01-01 00:00:00 in the other.
uint16_t MmcmdModel::setClockFields(const Params& params, std::string&) {
    const ClockHalf& half = *FindByCode(kClockHalves, params.code);
    CalendarTime time = half.start ? startTime() : clockNow();
    if (time == CalendarTime{}) time = kClockOrigin;
    const std::vector<uint32_t>& w = params.words;
    if (*std::max_element(w.begin(), w.end()) > 99) return kBadParameter;
    const int a = static_cast<int>(w[0]), b = static_cast<int>(w[1]), c = static_cast<int>(w[2]);
    if (half.date) {
        time.day = a, time.month = b, time.year = kClockYearBase + c;
    } else {
        time.hour = a, time.minute = b, time.second = c;
    }
    if (!IsCalendarTime(time)) return kBadParameter;
    if (half.start) {
        setStartTime(time);
    } else {
        setClock(time);
    }
    return kNoError;
}

uint16_t MmcmdModel::setElapsed(const Params& params, std::string&) {
    const uint64_t us = params.words[0] * kTickUs;
    if (params.code == kSetLive) {
        setTimes(std::max(trueUs(), us), us);
    } else {
        setTimes(us, liveUs());
    }
    return kNoError;
}

// SHOW_ROI starts from the first ROI, SHOW_NEXT goes on after the last answered.
uint16_t MmcmdModel::showRoi(const Params& params, std::string& data) {
    const uint32_t from = params.code == kShowRoi ? 0 : m_roiCursor;
    for (const Run& run : m_roiRuns) {
        if (run.start < from) continue;
        m_roiCursor = run.start + run.length;
        data = WordBytes({run.start, run.length});
        return kNoError;
    }
    data = WordBytes({0, 0});
    return kNoError;
}

uint16_t MmcmdModel::showSums(const Params& params, std::string& data) {
    uint32_t first = 0, end = 0;
    if (!channelsOf(params.words, first, end)) return kBadParameter;
    if (params.code == kIntegral) {
        data = WordBytes({end > first ? spectrum().sum(first, end - 1) : 0});
        return kNoError;
    }
    uint32_t peakChannel = first;
    for (uint32_t channel = first; channel < end; ++channel) {
        if (count(channel) > count(peakChannel)) peakChannel = channel;
    }
    data = WordBytes({params.code == kPeak ? (end > first ? count(peakChannel) : 0u) : peakChannel});
    return kNoError;
}

uint16_t MmcmdModel::showConfiguration(const Params&, std::string& data) {
    char head[32];
    std::snprintf(head, sizeof head, "%5.5u00001%5.5u", m_memory, channelsInUse());
    data = std::string(head) + std::string(40, '0') + std::string(35, '0');
    return kNoError;
}

uint16_t MmcmdModel::showHighVoltage(const Params&, std::string& data) {
    data = WordBytes({word(kHighVoltage, 1) != 0 ? word(kHighVoltageTarget, 0) : 0u});
    return kNoError;
}

// A name never set is refused, so that a host falls back to its default
// rather than taking an empty value for one.
uint16_t MmcmdModel::showApplication(const Params& params, std::string& data) {
    for (const auto& application : m_applications) {
        if (application.first != params.texts[0]) continue;
        data = application.second;
        return kNoError;
    }
    return kBadParameter;
}

uint16_t MmcmdModel::readBlock(const Params& params, std::string& data) {
    for (uint64_t channel = params.words[0]; channel < uint64_t{params.words[0]} + kBlockChannels; ++channel) {
        PutBe32(data, channel < m_memory ? count(static_cast<uint32_t>(channel)) : 0u);
    }
    return kNoError;
}

uint16_t MmcmdModel::setConversionGain(const Params& params, std::string&) {
    if (params.words[0] > m_memory) return kBadParameter;
    registerFor(kConversionGain)->words = {params.words[0]};
    return kNoError;
}

// SET_ROI marks, CLEAR_ROI unmarks (without words: all).
uint16_t MmcmdModel::setRoi(const Params& params, std::string&) {
    uint32_t first = 0, end = 0;
    if (!channelsOf(params.words, first, end)) return kBadParameter;
    markRois(first, end, params.code != kClearRoi);
    return kNoError;
}

uint16_t MmcmdModel::setData(const Params& params, std::string&) {
    uint32_t first = 0, end = 0;
    if (!channelsOf(params.words, first, end)) return kBadParameter;
    for (uint32_t channel = first; channel < end; ++channel) setCount(channel, params.words[2]);
    return kNoError;
}

uint16_t MmcmdModel::setGate(const Params& params, std::string&) {
    for (const GateChoice& gate : kGates) {
        const bool chosen = params.code == kSetGateByValue ? gate.value == params.words[0] : gate.code == params.code;
        if (chosen) registerFor(kGate)->text = gate.text;
    }
    return kNoError;
}

uint16_t MmcmdModel::setApplication(const Params& params, std::string&) {
    const std::string& name = params.texts[0];
    const std::string& value = params.texts[1];
    if (name.empty() || name.size() > kApplicationTextBytes || value.size() > kApplicationTextBytes) {
        return kBadParameter;
    }
    for (auto& application : m_applications) {
        if (application.first != name) continue;
        application.second = value;
        return kNoError;
    }
    if (m_applications.size() >= kApplicationNames) return kNoRoom;
    m_applications.emplace_back(name, value);
    return kNoError;
}

// A word given (a segment) is taken and has nothing to pick here.
uint16_t MmcmdModel::startRun(const Params&, std::string&) {
    startAcquisition();
    return kNoError;
}

uint16_t MmcmdModel::stopRun(const Params&, std::string&) {
    stopAcquisition();
    return kNoError;
}

// The words (start, length) cover as much of the channels as there is.
uint16_t MmcmdModel::clearRun(const Params& params, std::string&) {
    const ClearKind& kind = *FindByCode(kClears, params.code);
    if (params.words.size() == 1) return kBadParameter;
    const uint32_t first = params.words.empty() ? 0 : std::min(params.words[0], kMaxMemory);
    const uint32_t end = params.words.empty() ? kMaxMemory
                                              : static_cast<uint32_t>(std::min<uint64_t>(
                                                    uint64_t{first} + params.words[1], kMaxMemory));
    if (kind.counts && first == 0 && end == kMaxMemory) {
        clearCounts();
    } else if (kind.counts) {
        for (uint32_t channel = first; channel < end; ++channel) setCount(channel, 0);
    }
    if (kind.times) clearTimes();
    return kNoError;
}

// ----- Control ------------------------------------------------------------------

// CODE [WORD...], reply length enough for what the command would answer now.
std::string MmcmdModel::framedRequest(const std::string& text, std::string& error) const {
    const std::vector<std::string> words = SplitWords(text);
    uint64_t code = 0;
    std::vector<uint32_t> values(words.empty() ? 0 : words.size() - 1);
    bool valid = !words.empty() && ParseUnsigned(words[0], code) && code <= 0xffff &&
                 kHeaderBytes + 4 * values.size() <= kMaxRequest;
    for (size_t i = 0; valid && i < values.size(); ++i) valid = ParseWord(words[i + 1], values[i]);
    if (!valid) {
        error = "usage: request CODE [WORD...], CODE 0 to 65535, at most 253 words from -2147483648 to "
                "4294967295 (decimal or 0x)";
        return std::string();
    }
    const Command* command = findCommand(static_cast<uint16_t>(code));
    size_t answerBytes = 0;
    if (command != nullptr) {
        const size_t indexAt = static_cast<size_t>(command->indexAt);
        answerBytes = naturalAnswerBytes(*command, command->indexAt >= 0 && values.size() > indexAt ? values[indexAt] : 0);
    }
    std::string frame;
    PutBe32(frame, static_cast<uint32_t>(kHeaderBytes + 4 * values.size()));
    PutBe32(frame, static_cast<uint32_t>(std::min(kMinReply + answerBytes, kMaxReply)));
    frame += static_cast<char>(code & 0xff);
    frame += static_cast<char>(code >> 8);
    for (uint32_t value : values) PutBe32(frame, value);
    return frame;
}

const ControlRow<MmcmdModel::ControlHandler> MmcmdModel::kControls[] = {
    {"reg", &MmcmdModel::controlRegister,
     "reg CODE[/INDEX] [WORD...]  the words SHOW command CODE answers (INDEX: of a table): read,\n"
     "                          or set what it stores, past the instrument's checks (decimal, 0x, negative)"},
    {"text", &MmcmdModel::controlText,
     "text CODE[/INDEX] [TEXT]  the text a SHOW or LIST command answers: read, or set (escaped as\n"
     "                          'sent' shows it); SHOW_VERSION 158, LIST_SHUTDOWN 916 ..."},
    {"error", &MmcmdModel::controlError,
     "error CODE [MAC MIC|clear]  the pair command CODE answers: MAC other than 0 refuses it,\n"
     "                          MAC 0 carries it out and answers MIC"},
    {"memory", &MmcmdModel::controlMemory, "memory [N]                channels of the memory (512 to 32768)"},
};

bool MmcmdModel::familyControl(const Words& words, std::string& reply) {
    const auto* row = FindControl(kControls, words[0]);
    if (row) reply = (this->*(row->handler))(words);
    return row != nullptr;
}

std::string MmcmdModel::familyControlHelp() const {
    return ControlHelpText(kControls) +
           "request CODE [WORD...]    (as above) a frame of words; the reply length what CODE answers now\n";
}

std::string MmcmdModel::controlRegister(const Words& words) {
    uint16_t code = 0;
    uint32_t index = 0;
    const Command* command =
        words.size() >= 2 && ParseRegisterName(words[1], code, index) ? findCommand(code) : nullptr;
    if (command == nullptr || command->output != Output::kWords || index > command->maxIndex) {
        return Err("usage: reg CODE[/INDEX] [WORD...], CODE a command answering words, INDEX within its table");
    }
    if (words.size() == 2) {
        std::string data, bytes;
        if (command->indexAt >= 0) PutBe32(bytes, index);
        if (Refuses(execute(code, bytes, data))) return Err(std::string(command->name) + " answers only a request with its words");
        return Ok(WordsText(data));
    }
    if (command->handler != nullptr) return Err(std::string(command->name) + " is the instrument's own reading, not stored");
    std::vector<uint32_t> values(words.size() - 2);
    for (size_t i = 0; i < values.size(); ++i) {
        if (!ParseWord(words[i + 2], values[i]) || 4 * (i + 1) > kMaxReply - kMinReply) {
            return Err("WORD: at most 255, each from -2147483648 to 4294967295");
        }
    }
    Register* stored = registerFor(code, index);
    if (stored == nullptr) return Err("the instrument holds " + std::to_string(kMaxRegisters) + " values at most");
    stored->words = values;
    followRegisters();
    return Ok();
}

std::string MmcmdModel::controlText(const Words& words) {
    uint16_t code = 0;
    uint32_t index = 0;
    const Command* command =
        words.size() >= 2 && ParseRegisterName(words[1], code, index) ? findCommand(code) : nullptr;
    if (command == nullptr || command->output != Output::kText || command->input != Input::kWords ||
        index > command->maxIndex) {
        return Err("usage: text CODE[/INDEX] [TEXT], CODE a command answering a text to a request without one, "
                   "INDEX within its table");
    }
    if (words.size() == 2) {
        std::string data, bytes;
        if (command->indexAt >= 0) PutBe32(bytes, index);
        execute(code, bytes, data);
        return Ok(EscapeBytes(data));
    }
    if (command->handler != nullptr) return Err(std::string(command->name) + " is the instrument's own, not stored");
    std::string joined = words[2], text;
    for (size_t i = 3; i < words.size(); ++i) joined += " " + words[i];
    if (!UnescapeBytes(joined, text) || text.size() > kMaxReply - kMinReply) {
        return Err("TEXT: up to 1022 bytes, escaped as 'sent' shows them");
    }
    Register* stored = registerFor(code, index);
    if (stored == nullptr) return Err("the instrument holds " + std::to_string(kMaxRegisters) + " values at most");
    stored->text = text;
    return Ok();
}

std::string MmcmdModel::controlError(const Words& words) {
    uint64_t code = 0, macro = 0, micro = 0;
    const bool valid = words.size() >= 2 && words.size() <= 4 && ParseUnsigned(words[1], code) && code <= 0xffff &&
                       (words.size() != 3 || words[2] == "clear") &&
                       (words.size() != 4 ||
                        (ParseUnsigned(words[2], macro) && macro <= 255 && ParseUnsigned(words[3], micro) && micro <= 255));
    if (!valid) return Err("usage: error CODE [MAC MIC|clear], CODE 0 to 65535, MAC and MIC 0 to 255");
    const uint16_t key = static_cast<uint16_t>(code);
    if (words.size() == 2) {
        const auto found = m_errors.find(key);
        if (found == m_errors.end()) return Ok("none");
        return Ok(std::to_string(found->second >> 8) + " " + std::to_string(found->second & 0xff));
    }
    if (words.size() == 3) {
        m_errors.erase(key);
    } else {
        m_errors[key] = static_cast<uint16_t>(macro << 8 | micro);
    }
    return Ok();
}

std::string MmcmdModel::controlMemory(const Words& words) {
    uint64_t channels = 0;
    if (words.size() == 1) return Ok(std::to_string(m_memory));
    if (words.size() != 2 || !ParseUnsigned(words[1], channels) || channels < kMinMemory || channels > kMaxMemory) {
        return Err("usage: memory [N], N from 512 to 32768 channels");
    }
    setMemory(static_cast<uint32_t>(channels));
    return Ok();
}

}  // namespace sim
}  // namespace linkbay
