#include "sim/korv_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/byte_escapes.h"
#include "sim/control_words.h"

namespace linkbay {
namespace sim {

namespace {
// Settings the driver writes with one opcode and reads back with opcode + 0x30.
struct RegisterSpec {
    uint8_t opcode;
    int64_t minimum;
    int64_t maximum;
    int64_t initial;
    bool powerOfTwo;
};
const RegisterSpec kRegisters[] = {
    {0x01, 0, 65535, 65535, false},  // time preset; 65535 minutes: none
    {0x02, 0, 1, 1, false},          // preset time base: seconds, minutes
    {0x03, 256, 4096, 4096, true},   // conversion gain
    {0x05, -5000, 5000, 0, false},   // high-voltage setpoint, sign = polarity
    {0x06, 1, 64, 1, true},          // coarse gain
    {0x07, 0, 4095, 2048, false},    // fine gain
    {0x08, 0, 1, 1, false},          // amplifier polarity: negative, positive
    {0x09, 0, 4095, 0, false},       // lower level discriminator
    {0x0A, 0, 4095, 4095, false},    // upper level discriminator
    {0x0C, 0, 1, 1, false},          // automatic baseline restorer
    {0x0D, 0, 1, 0, false},          // pile-up rejection
    {0x0F, 0, 1, 0, false},          // shaping
    {0x10, 0, 1, 0, false},          // preset mode: live, true time
    {0x1F, 0, 1, 0, false},          // high voltage on
};
constexpr uint8_t kReadBackOffset = 0x30;
constexpr uint8_t kTimePreset = 0x01, kTimeBase = 0x02, kConversionGain = 0x03, kHighVoltage = 0x05,
                  kPresetMode = 0x10, kHighVoltageOn = 0x1F;
constexpr int64_t kNoTimePreset = 65535;
const char kRejection[] = "??\r\n";
const char kTransferHeader[] = "fb SPECTRUM\r\n";
constexpr uint32_t kMaxAnnounced = 65535;

const RegisterSpec* FindRegister(uint8_t opcode) {
    for (const RegisterSpec& spec : kRegisters) {
        if (spec.opcode == opcode) return &spec;
    }
    return nullptr;
}

bool IsPowerOfTwo(int64_t value) { return value > 0 && (value & (value - 1)) == 0; }

// Two hexadecimal digits, -1 for anything else.
int OpcodeValue(const std::string& word) {
    const int high = word.size() == 2 ? HexDigit(word[0]) : -1;
    const int low = word.size() == 2 ? HexDigit(word[1]) : -1;
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

std::string ClockText(const CalendarTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d %02d %02d %02d %02d %02d", time.month, time.day, time.year % 100,
                  time.hour, time.minute, time.second);
    return text;
}
}  // namespace

struct KorvModel::Command {
    uint8_t opcode;
    uint8_t minArgs;
    uint8_t maxArgs;
    Handler handler;
};

const KorvModel::Command* KorvModel::findCommand(uint8_t opcode) {
    static const Command kCommands[] = {
        {0x2F, 6, 6, &KorvModel::writeClock},        {0x5F, 0, 0, &KorvModel::readClock},
        {0x12, 0, 1, &KorvModel::probe},             {0x92, 0, 1, &KorvModel::start},
        {0x93, 0, 0, &KorvModel::stop},              {0x96, 0, 0, &KorvModel::resetController},
        {0xA0, 0, 0, &KorvModel::clearData},         {0xA1, 0, 0, &KorvModel::clearRois},
        {0xA2, 3, 3, &KorvModel::defineRoi},         {0xA4, 2, 2, &KorvModel::setIntegralPreset},
        {0xF6, 1, 1, &KorvModel::readRoi},           {0xFB, 0, 0, &KorvModel::transfer},
        {0x63, 0, 0, &KorvModel::battery},           {0x64, 0, 0, &KorvModel::measuredHighVoltage},
        {0x66, 0, 0, &KorvModel::elapsed},           {0x67, 0, 0, &KorvModel::statusWord},
        {0x68, 0, 0, &KorvModel::livePercentage},    {0x6B, 0, 0, &KorvModel::serialNumber},
        {0x71, 0, 0, &KorvModel::firmwareVersion},   {0x79, 0, 0, &KorvModel::acquisitionStart},
        {0x80, 0, 0, &KorvModel::integral},
    };
    static const Command kSetRegister = {0, 1, 1, &KorvModel::setRegister};
    static const Command kReadRegister = {0, 0, 0, &KorvModel::readRegister};
    for (const Command& command : kCommands) {
        if (command.opcode == opcode) return &command;
    }
    if (FindRegister(opcode)) return &kSetRegister;
    if (opcode >= kReadBackOffset && FindRegister(static_cast<uint8_t>(opcode - kReadBackOffset))) {
        return &kReadRegister;
    }
    return nullptr;
}

KorvModel::KorvModel() : AcquiringModel(kChannels) {
    for (const RegisterSpec& spec : kRegisters) m_registers[spec.opcode] = spec.initial;
    followTimePreset();
}

// A request ends with its carriage return; a run of bytes without one that
// no request could be as long as is taken whole and refused.
size_t KorvModel::requestLength(const char* bytes, size_t count) const {
    const void* end = std::memchr(bytes, '\r', count);
    if (end) return static_cast<size_t>(static_cast<const char*>(end) - bytes) + 1;
    return count > kMaxRequest ? count : 0;
}

bool KorvModel::parse(const std::string& request, Request& parsed) const {
    if (request.size() > kMaxRequest || request.empty() || request.back() != '\r') return false;
    std::vector<std::string> words = SplitWords(request.substr(0, request.size() - 1));
    const int opcode = words.empty() ? -1 : OpcodeValue(words[0]);
    if (opcode < 0) return false;
    parsed.opcode = static_cast<uint8_t>(opcode);
    parsed.opcodeText[0] = words[0][0];
    parsed.opcodeText[1] = words[0][1];
    for (size_t i = 1; i < words.size(); ++i) {
        int64_t value = 0;
        if (words[i].size() > 11 || !ParseSigned(words[i], value)) return false;
        parsed.args.push_back(value);
    }
    return true;
}

std::string KorvModel::answer(const std::string& request) {
    Request parsed;
    if (!parse(request, parsed)) return rejection(request);
    const Command* command = findCommand(parsed.opcode);
    if (!command || parsed.args.size() < command->minArgs || parsed.args.size() > command->maxArgs) {
        return rejection(request);
    }
    const std::string reply = (this->*(command->handler))(parsed);
    return reply.empty() ? rejection(request) : reply;
}

std::string KorvModel::rejection(const std::string&) const { return kRejection; }

std::string KorvModel::acknowledge(const Request& request) const { return std::string(request.opcodeText) + "\r\n"; }

std::string KorvModel::valueReply(const Request& request, const std::string& value) const {
    return std::string(request.opcodeText) + " " + value + "\r\n";
}

std::string KorvModel::setRegister(const Request& request) {
    const RegisterSpec* spec = FindRegister(request.opcode);
    const int64_t value = request.args[0];
    if (value < spec->minimum || value > spec->maximum || (spec->powerOfTwo && !IsPowerOfTwo(value))) return "";
    m_registers[request.opcode] = value;
    followTimePreset();
    return acknowledge(request);
}

// One time preset, of the time the preset mode names, in the unit of the
// time base; the largest value in minutes stands for none.
void KorvModel::followTimePreset() {
    const int64_t value = m_registers[kTimePreset];
    const bool minutes = m_registers[kTimeBase] != 0;
    const uint64_t limitUs = minutes && value == kNoTimePreset
                                 ? kNoPreset
                                 : static_cast<uint64_t>(value) * (minutes ? 60 : 1) * 1000000ULL;
    const bool live = m_registers[kPresetMode] == 0;
    setTimePresets(live ? limitUs : kNoPreset, live ? kNoPreset : limitUs);
}

std::string KorvModel::readRegister(const Request& request) {
    return valueReply(request, std::to_string(m_registers[request.opcode - kReadBackOffset]));
}

// All six fields 0 leave the clock unset, as a fresh instrument has it.
std::string KorvModel::writeClock(const Request& request) {
    static const int kMinimum[6] = {1, 1, 0, 0, 0, 0};
    static const int kMaximum[6] = {12, 31, 99, 23, 59, 59};
    const std::vector<int64_t>& a = request.args;
    if (std::all_of(a.begin(), a.end(), [](int64_t field) { return field == 0; })) {
        setClock(CalendarTime{});
        return acknowledge(request);
    }
    for (size_t i = 0; i < 6; ++i) {
        if (a[i] < kMinimum[i] || a[i] > kMaximum[i]) return "";
    }
    setClock({2000 + int(a[2]), int(a[0]), int(a[1]), int(a[3]), int(a[4]), int(a[5])});
    return acknowledge(request);
}

std::string KorvModel::readClock(const Request& request) { return valueReply(request, ClockText(clockNow())); }

std::string KorvModel::probe(const Request& request) { return acknowledge(request); }

std::string KorvModel::start(const Request& request) {
    startAcquisition();
    return acknowledge(request);
}

std::string KorvModel::stop(const Request& request) {
    stopAcquisition();
    return acknowledge(request);
}

// The acquisition controller starts over; the spectrum, the ROI slots and the
// analogue settings survive, which is why drivers re-send presets afterwards.
std::string KorvModel::resetController(const Request& request) {
    stopAcquisition();
    m_registers[kPresetMode] = 0;
    m_registers[kTimeBase] = 1;
    m_registers[kTimePreset] = kNoTimePreset;
    followTimePreset();
    for (RoiSlot& slot : m_rois) slot.integralPreset = 0;
    return acknowledge(request);
}

std::string KorvModel::clearData(const Request& request) {
    AcquiringModel::clearData();
    return acknowledge(request);
}

std::string KorvModel::clearRois(const Request& request) {
    for (RoiSlot& slot : m_rois) slot = RoiSlot{};
    return acknowledge(request);
}

std::string KorvModel::defineRoi(const Request& request) {
    const int64_t slot = request.args[0], first = request.args[1], last = request.args[2];
    if (slot < 1 || slot > static_cast<int64_t>(kRoiSlots) || first < 0 || last < first ||
        last >= static_cast<int64_t>(kChannels)) {
        return "";
    }
    RoiSlot& entry = m_rois[static_cast<size_t>(slot - 1)];
    entry.defined = true;
    entry.start = static_cast<uint16_t>(first);
    entry.end = static_cast<uint16_t>(last);
    return acknowledge(request);
}

std::string KorvModel::setIntegralPreset(const Request& request) {
    const int64_t slot = request.args[0], preset = request.args[1];
    if (slot < 1 || slot > static_cast<int64_t>(kRoiSlots) || preset < 0 || preset > 0xffffffffLL) return "";
    m_rois[static_cast<size_t>(slot - 1)].integralPreset = static_cast<uint32_t>(preset);
    return acknowledge(request);
}

// An empty slot reads back with its start above its end.
std::string KorvModel::readRoi(const Request& request) {
    const int64_t slot = request.args[0];
    if (slot < 1 || slot > static_cast<int64_t>(kRoiSlots)) return "";
    const RoiSlot& entry = m_rois[static_cast<size_t>(slot - 1)];
    char text[32];
    std::snprintf(text, sizeof text, "%02d %04u %04u", static_cast<int>(slot), entry.defined ? entry.start : 1u,
                  entry.defined ? entry.end : 0u);
    return valueReply(request, text);
}

uint32_t KorvModel::widthFor(uint32_t channels) const {
    if (m_transferWidth != 0) return m_transferWidth;
    uint32_t largest = 0;
    for (uint32_t channel = 0; channel < channels && channel < kChannels; ++channel) {
        largest = std::max(largest, count(channel));
    }
    return largest <= 0xff ? 1 : largest <= 0xffff ? 2 : 4;
}

// Header line, count line, a four-digit hexadecimal format word naming the
// width, then the counts little-endian; a fixed width too narrow for a count
// saturates it.
std::string KorvModel::transfer(const Request&) {
    const uint32_t channels = m_announcedChannels ? m_announcedChannels : channelsInUse();
    const uint32_t width = widthFor(channels);
    const uint64_t ceiling = width == 4 ? 0xffffffffULL : (1ULL << (8 * width)) - 1;
    char text[64];
    std::snprintf(text, sizeof text, "%sCHANNELS %u\r\n%04X", kTransferHeader, channels, width << 8);
    std::string reply = text;
    reply.reserve(reply.size() + static_cast<size_t>(channels) * width);
    for (uint32_t channel = 0; channel < channels; ++channel) {
        const uint64_t value = std::min<uint64_t>(count(channel), ceiling);
        for (uint32_t byte = 0; byte < width; ++byte) reply += static_cast<char>((value >> (8 * byte)) & 0xff);
    }
    return reply;
}

std::string KorvModel::battery(const Request& request) {
    char text[24];
    std::snprintf(text, sizeof text, "%.2f", m_batteryVolts);
    return valueReply(request, text);
}

std::string KorvModel::measuredHighVoltage(const Request& request) {
    return valueReply(request, std::to_string(m_registers[kHighVoltageOn] ? m_registers[kHighVoltage] : 0));
}

// The time the preset counts (live or true), in the unit of the time base.
std::string KorvModel::elapsed(const Request& request) {
    const uint64_t counted = m_registers[kPresetMode] == 0 ? liveUs() : trueUs();
    const uint64_t seconds = counted / 1000000;
    return valueReply(request, std::to_string(m_registers[kTimeBase] ? seconds / 60 : seconds));
}

std::string KorvModel::statusWord(const Request& request) {
    return valueReply(request, std::to_string(acquiring() ? m_activeBits : 0));
}

std::string KorvModel::livePercentage(const Request& request) {
    const uint64_t trueTime = trueUs();
    const uint64_t percent = trueTime == 0 ? 0 : (liveUs() * 100 + trueTime / 2) / trueTime;
    return valueReply(request, std::to_string(percent));
}

std::string KorvModel::serialNumber(const Request& request) {
    return valueReply(request, std::to_string(m_serialNumber));
}

std::string KorvModel::firmwareVersion(const Request& request) {
    char text[24];
    std::snprintf(text, sizeof text, "%.2f", m_firmwareVersion);
    return valueReply(request, text);
}

std::string KorvModel::acquisitionStart(const Request& request) {
    return valueReply(request, ClockText(startTime()));
}

// The counts of the defined ROIs, or of the whole spectrum without any.
std::string KorvModel::integral(const Request& request) {
    uint64_t total = 0;
    bool anyRoi = false;
    for (const RoiSlot& slot : m_rois) {
        if (!slot.defined) continue;
        anyRoi = true;
        total += spectrum().sum(slot.start, slot.end);
    }
    if (!anyRoi) total = spectrum().sum(0, kChannels - 1);
    return valueReply(request, std::to_string(std::min<uint64_t>(total, 0xffffffffULL)));
}

uint32_t KorvModel::channelsInUse() const { return static_cast<uint32_t>(m_registers[kConversionGain]); }

// The integral presets of the ROIs; the time presets are the base's.
bool KorvModel::familyPresetReached() const {
    for (const RoiSlot& slot : m_rois) {
        if (slot.defined && slot.integralPreset != 0 && spectrum().sum(slot.start, slot.end) >= slot.integralPreset) {
            return true;
        }
    }
    return false;
}

const ControlRow<KorvModel::ControlHandler> KorvModel::kControls[] = {
    {"width", &KorvModel::controlWidth, "width 1|2|4|auto          bytes per channel of the spectrum transfer"},
    {"announce", &KorvModel::controlAnnounce,
     "announce N|auto           channel count the transfer announces (auto: the conversion gain)"},
    {"reg", &KorvModel::controlRegister, "reg XX                    a setting by the hexadecimal opcode that sets it"},
    {"roi", &KorvModel::controlRoi, "roi N                     slot N: defined, start, end, integral preset"},
};

bool KorvModel::familyControl(const Words& words, std::string& reply) {
    const auto* row = FindControl(kControls, words[0]);
    if (row) reply = (this->*(row->handler))(words);
    return row != nullptr;
}

std::string KorvModel::familyControlHelp() const { return ControlHelpText(kControls); }

const std::vector<AcquiringModel::Setting>& KorvModel::familySettings() const {
    static const std::vector<Setting> kSettings = {
        {"battery", false, 99.99, [](AcquiringModel& m, double v) { static_cast<KorvModel&>(m).m_batteryVolts = v; },
         "battery V               volts that 63 reads"},
        {"version", false, 9.99,
         [](AcquiringModel& m, double v) { static_cast<KorvModel&>(m).m_firmwareVersion = v; },
         "version V               firmware version that 71 reads"},
        {"serial", true, 4294967295.0,
         [](AcquiringModel& m, double v) { static_cast<KorvModel&>(m).m_serialNumber = uint32_t(v); },
         "serial N                serial number that 6B reads"},
        {"active-bits", true, 4294967295.0,
         [](AcquiringModel& m, double v) { static_cast<KorvModel&>(m).m_activeBits = uint32_t(v); },
         "active-bits N           status word (67) while acquiring"},
    };
    return kSettings;
}

std::string KorvModel::controlWidth(const Words& words) {
    uint64_t width = 0;
    if (words.size() == 2 && words[1] == "auto") {
        m_transferWidth = 0;
    } else if (words.size() == 2 && ParseUnsigned(words[1], width) && (width == 1 || width == 2 || width == 4)) {
        m_transferWidth = static_cast<uint32_t>(width);
    } else {
        return Err("usage: width 1|2|4|auto");
    }
    return Ok();
}

std::string KorvModel::controlAnnounce(const Words& words) {
    uint64_t channels = 0;
    if (words.size() == 2 && words[1] == "auto") {
        m_announcedChannels = 0;
    } else if (words.size() == 2 && ParseUnsigned(words[1], channels) && channels >= 1 && channels <= kMaxAnnounced) {
        m_announcedChannels = static_cast<uint32_t>(channels);
    } else {
        return Err("usage: announce N|auto (N from 1 to 65535)");
    }
    return Ok();
}

std::string KorvModel::controlRegister(const Words& words) {
    const int opcode = words.size() == 2 ? OpcodeValue(words[1]) : -1;
    if (opcode < 0 || !FindRegister(static_cast<uint8_t>(opcode))) {
        return Err("usage: reg XX, XX the hexadecimal opcode of a setting (01 to 1F)");
    }
    return Ok(std::to_string(m_registers[static_cast<size_t>(opcode)]));
}

std::string KorvModel::controlRoi(const Words& words) {
    uint64_t number = 0;
    if (words.size() != 2 || !ParseUnsigned(words[1], number) || number < 1 || number > kRoiSlots) {
        return Err("usage: roi N (1 to 29)");
    }
    const RoiSlot& slot = m_rois[number - 1];
    return Ok(std::to_string(slot.defined ? 1 : 0) + " " + std::to_string(slot.start) + " " +
              std::to_string(slot.end) + " " + std::to_string(slot.integralPreset));
}

}  // namespace sim
}  // namespace linkbay
