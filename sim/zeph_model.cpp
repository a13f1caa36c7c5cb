#include "sim/zeph_model.h"

#include <cmath>

#include "sim/control_words.h"

namespace linkbay {
namespace sim {

namespace {

constexpr uint8_t kSync[2] = {0xA5, 0x5A};
constexpr uint8_t kEndMark[2] = {0xB9, 0x9B};
constexpr uint32_t kTableMarker = 0x4F52;
constexpr uint32_t kHighVoltageSlot = 31;
constexpr int64_t kMaxHighVoltage = 3000;
constexpr uint32_t kLastChannel = ZephModel::kChannels - 1;

// Status frame offsets the model itself acts on.
constexpr uint32_t kModeAt = 2, kPresetKindAt = 4, kPresetValueAt = 6, kTrueTimeAt = 22, kCountRateAt = 26,
                   kDeadTimeAt = 30,
                   kConversionGainAt = 38, kHighVoltageAt = 58, kPeakAt = 70, kRegionStartAt = 74,
                   kRegionEndAt = 76, kStartTimeAt = 102, kStateAt = 130;
// Preset kinds (0: none).
constexpr int64_t kTruePreset = 1, kLivePreset = 2, kIntegralPreset = 3;

// A parameter's role in a command row: kFree parameters must be 0, the
// handler reads kOwn ones, any other value is the offset of the status
// field the parameter sets (no field starts at 0 or 1: the sync word).
constexpr uint8_t kFree = 0, kOwn = 1;

// Measurements by their offset in the reply to 0x59.
struct Measurement {
    uint32_t offset;
    uint32_t initial;
    const char* meaning;
};
const Measurement kMeasurements[] = {
    {2, 312, "board temperature, 0.1 degC"},
    {6, 12040, "+12 V supply, mV"},
    {10, 11960, "-12 V supply, mV"},
    {14, 5010, "+5 V supply, mV"},
    {18, 7400, "battery, mV"},
    {22, 0, "high-voltage current, nA"},
    {26, 3300, "reference, mV"},
    {30, 0, "high-voltage monitor, applied volts / 1.2 (follows the applied voltage)"},
    {54, 1234, "hours switched on"},
};
constexpr uint32_t kHighVoltageMonitorAt = 30;

int MeasurementIndex(uint32_t offset) {
    for (size_t i = 0; i < sizeof kMeasurements / sizeof kMeasurements[0]; ++i) {
        if (kMeasurements[i].offset == offset) return static_cast<int>(i);
    }
    return -1;
}

void Put16(std::string& frame, size_t offset, uint16_t value) {
    frame[offset] = static_cast<char>(value & 0xff);
    frame[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& frame, size_t offset, uint32_t value) {
    Put16(frame, offset, static_cast<uint16_t>(value & 0xffff));
    Put16(frame, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t Get16(const std::string& bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) | static_cast<uint8_t>(bytes[offset + 1]) << 8);
}

bool HasPair(const std::string& bytes, size_t offset, const uint8_t (&pair)[2]) {
    return static_cast<uint8_t>(bytes[offset]) == pair[0] && static_cast<uint8_t>(bytes[offset + 1]) == pair[1];
}

// A reply frame with nothing in it yet and the trailer given.
std::string Frame(uint16_t trailer) {
    std::string frame(ZephModel::kReplyBytes, '\0');
    frame[0] = static_cast<char>(kSync[0]);
    frame[1] = static_cast<char>(kSync[1]);
    Put16(frame, ZephModel::kTrailerOffset, trailer);
    return frame;
}

// Where the first sync word starts; its first byte alone at the very end
// counts, as the second may still come.
size_t SyncAt(const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<uint8_t>(bytes[i]) != kSync[0]) continue;
        if (i + 1 == count || static_cast<uint8_t>(bytes[i + 1]) == kSync[1]) return i;
    }
    return count;
}

}  // namespace

// The values a status field takes.
struct ZephModel::Rule {
    int64_t minimum;  // below 0: the field is signed, and so is its parameter
    int64_t maximum;
    uint32_t oneOf;   // non-zero: only the values whose bit is set
    bool powerOfTwo;

    bool takes(int64_t value) const {
        if (value < minimum || value > maximum) return false;
        if (oneOf != 0 && (value >= 32 || (oneOf >> value & 1) == 0)) return false;
        return !powerOfTwo || (value & (value - 1)) == 0;
    }
    int64_t fromParameter(uint16_t parameter) const {
        return minimum < 0 ? static_cast<int16_t>(parameter) : static_cast<int64_t>(parameter);
    }
    std::string text() const {
        if (oneOf == 0) {
            return std::to_string(minimum) + " to " + std::to_string(maximum) + (powerOfTwo ? ", a power of two" : "");
        }
        std::string values;
        for (int64_t value = 0; value < 32; ++value) {
            if (oneOf >> value & 1) values += (values.empty() ? "" : ", ") + std::to_string(value);
        }
        return "one of " + values;
    }
};

// Settings go back to their initial values when the instrument is
// initialised; readings are the instrument's own and stay.
enum class Group { kSetting, kReading };

struct ZephModel::StatusField {
    uint32_t offset;
    uint32_t bytes;  // 2 or 4
    Group group;
    Rule rule;
    int64_t initial;
    int64_t (ZephModel::*read)() const;  // null: the stored value
    void (ZephModel::*follow)();         // null: nothing else changes with it
};

namespace {
constexpr ZephModel::Rule Range(int64_t minimum, int64_t maximum) { return {minimum, maximum, 0, false}; }
constexpr ZephModel::Rule kAny16 = Range(0, 0xffff);
constexpr ZephModel::Rule kAny32 = Range(0, 0xffffffffLL);
constexpr ZephModel::Rule kChannel = Range(0, kLastChannel);
constexpr ZephModel::Rule kFlag = Range(0, 1);
}  // namespace

const ZephModel::StatusField ZephModel::kStatusFields[] = {
    {kModeAt, 2, Group::kSetting, kFlag, 0, nullptr, nullptr},  // 0 PHA, 1 MCS
    {kPresetKindAt, 2, Group::kSetting, Range(0, 3), 0, nullptr, &ZephModel::followPresets},
    {kPresetValueAt, 4, Group::kSetting, kAny32, 0, nullptr, &ZephModel::followPresets},
    {kTrueTimeAt, 4, Group::kReading, kAny32, 0, &ZephModel::trueSeconds, &ZephModel::followTrueTime},
    {kCountRateAt, 4, Group::kReading, Range(0, static_cast<int64_t>(kMaxCountRate)), 0, &ZephModel::countRate,
     &ZephModel::followCountRate},
    {kDeadTimeAt, 4, Group::kReading, kAny32, 0, &ZephModel::deadMs, &ZephModel::followDeadTime},
    {kConversionGainAt, 2, Group::kSetting, {128, 4096, 0, true}, 4096, nullptr, nullptr},
    {40, 2, Group::kSetting, Range(2, 60), 10, nullptr, nullptr},             // threshold
    {42, 2, Group::kSetting, kChannel, 0, nullptr, nullptr},                  // lower level
    {44, 2, Group::kSetting, kChannel, 3967, nullptr, nullptr},               // upper level
    {50, 2, Group::kSetting, Range(2, 1000), 10, nullptr, nullptr},           // coarse gain
    {52, 2, Group::kSetting, Range(5000, 15000), 10000, nullptr, nullptr},    // fine gain
    {54, 2, Group::kReading, kAny16, 118, nullptr, nullptr},                  // discriminator readings
    {56, 2, Group::kReading, kAny16, 3910, nullptr, nullptr},
    {kHighVoltageAt, 2, Group::kSetting, Range(0, kMaxHighVoltage), 0, nullptr, &ZephModel::followHighVoltage},
    {60, 2, Group::kReading, kFlag, 0, nullptr, nullptr},                     // high-voltage polarity
    {62, 2, Group::kReading, Range(0, 0xff), 0x03, nullptr, nullptr},         // power status
    {64, 2, Group::kSetting, Range(0, 2499), 1000, nullptr, nullptr},         // pole-zero
    {66, 2, Group::kReading, kAny16, 1000, nullptr, nullptr},                 // dead-time correction
    {68, 2, Group::kReading, kAny16, 50, nullptr, nullptr},
    {kPeakAt, 2, Group::kSetting, kChannel, 0, nullptr, nullptr},             // stabilisation peak, 0 off
    {kRegionStartAt, 2, Group::kSetting, kChannel, 990, nullptr, nullptr},
    {kRegionEndAt, 2, Group::kSetting, kChannel, 1009, nullptr, nullptr},
    {78, 2, Group::kSetting, {0, 4, 0x19, false}, 0, nullptr, nullptr},      // input route: 0, 3, 4
    {80, 2, Group::kSetting, kFlag, 0, nullptr, nullptr},                     // gain polarity, 1 negative
    {82, 2, Group::kSetting, {1, 3, 0x0a, false}, 1, nullptr, nullptr},      // shaping: 1, 3
    {84, 2, Group::kSetting, kFlag, 0, nullptr, nullptr},                     // pile-up rejection
    {88, 2, Group::kReading, kAny16, 2307, nullptr, nullptr},                 // serial number
    {90, 2, Group::kReading, kAny16, 3, nullptr, nullptr},                    // revision
    {92, 2, Group::kReading, Range(0, 0xfff), 0x213, nullptr, nullptr},       // firmware version
    {kStartTimeAt, 4, Group::kSetting, kAny32, 0, nullptr, nullptr},          // device time at start
    {124, 2, Group::kSetting, Range(-1, 1), 0, nullptr, nullptr},             // shutdown mode
    {kStateAt, 2, Group::kSetting, {0, 4, 0x1d, false}, kIdle, nullptr, &ZephModel::followState},
};

struct ZephModel::Command {
    uint16_t code;
    Handler handler;
    uint8_t params[3];  // kFree, kOwn or a status field's offset
};

const ZephModel::Command ZephModel::kCommands[] = {
    {0x41, &ZephModel::initialise, {kFree, kFree, kFree}},
    {0x42, &ZephModel::start, {kOwn, kOwn, kOwn}},
    {0x43, &ZephModel::stop, {kFree, kFree, kFree}},
    {0x44, &ZephModel::clear, {kOwn, kFree, kFree}},
    {0x45, &ZephModel::setFields, {kModeAt, kFree, kFree}},
    {0x46, &ZephModel::setFields, {kConversionGainAt, 42, 44}},
    {0x47, &ZephModel::setFields, {40, kFree, kFree}},
    {0x48, &ZephModel::preset, {kOwn, kOwn, kOwn}},
    {0x49, &ZephModel::markRegion, {kOwn, kOwn, kFree}},
    {0x4C, &ZephModel::setFields, {50, 52, kFree}},
    {0x4D, &ZephModel::stabilisation, {kOwn, kOwn, kOwn}},
    {0x4F, &ZephModel::setFields, {kHighVoltageAt, 124, kFree}},
    {0x52, &ZephModel::setFields, {82, kFree, kFree}},
    {0x53, &ZephModel::setFields, {84, kFree, kFree}},
    {0x54, &ZephModel::setFields, {78, kFree, kFree}},
    {0x56, &ZephModel::setFields, {80, kFree, kFree}},
    {0x57, &ZephModel::writeTableSlot, {kOwn, kOwn, kOwn}},
    {0x58, &ZephModel::setFields, {kFree, 64, kFree}},
    {0x59, &ZephModel::measurements, {kFree, kFree, kFree}},
    {0x5A, &ZephModel::statusFrame, {kFree, kFree, kFree}},
    {0x5B, &ZephModel::readBlock, {kOwn, kOwn, kFree}},
    {0x5E, &ZephModel::readTableSlot, {kOwn, kFree, kFree}},
};

const ZephModel::StatusField* ZephModel::findField(uint32_t offset) {
    for (const StatusField& field : kStatusFields) {
        if (field.offset == offset) return &field;
    }
    return nullptr;
}

const ZephModel::Command* ZephModel::findCommand(uint16_t code) {
    for (const Command& command : kCommands) {
        if (command.code == code) return &command;
    }
    return nullptr;
}

ZephModel::ZephModel() : AcquiringModel(kChannels) {
    for (const StatusField& field : kStatusFields) stored(field.offset) = field.initial;
    for (size_t i = 0; i < m_measurements.size(); ++i) m_measurements[i] = kMeasurements[i].initial;
}

// Noise before a sync word goes with the frame after it, as one request;
// noise that grows past kMaxNoise without one goes alone, and gets no reply.
size_t ZephModel::requestLength(const char* bytes, size_t count) const {
    const size_t sync = SyncAt(bytes, count);
    if (count - sync >= kRequestBytes) return sync + kRequestBytes;
    return sync > kMaxNoise ? sync : 0;
}

std::string ZephModel::answer(const std::string& request) {
    const size_t size = request.size();
    if (size < kRequestBytes || !HasPair(request, size - kRequestBytes, kSync)) return std::string();
    const size_t at = size - kRequestBytes;
    if (!HasPair(request, at + 10, kEndMark)) return rejection(request);
    Request parsed;
    parsed.code = Get16(request, at + 2);
    for (size_t i = 0; i < 3; ++i) parsed.params[i] = Get16(request, at + 4 + 2 * i);
    const Command* command = findCommand(parsed.code);
    if (command == nullptr) return rejection(request);
    for (size_t i = 0; i < 3; ++i) {
        if (command->params[i] == kFree && parsed.params[i] != 0) return rejection(request);
    }
    std::string reply = Frame(0);
    return (this->*(command->handler))(parsed, reply) ? reply : rejection(request);
}

std::string ZephModel::rejection(const std::string&) const { return Frame(kRefused); }

void ZephModel::advance(uint64_t elapsedUs) {
    AcquiringModel::advance(elapsedUs);
    if (stored(kStateAt) == kRunning && !acquiring()) setState(kPresetReached);
}

void ZephModel::startAcquisition() {
    setState(kRunning);
    AcquiringModel::startAcquisition();
}

void ZephModel::stopAcquisition() {
    if (acquiring()) setState(kStopped);
    AcquiringModel::stopAcquisition();
}

void ZephModel::setState(RunState state) { stored(kStateAt) = state; }

bool ZephModel::statusValue(uint32_t offset, int64_t& value) const {
    const StatusField* field = findField(offset);
    if (field != nullptr) value = fieldValue(*field);
    return field != nullptr;
}

int64_t ZephModel::fieldValue(const StatusField& field) const {
    return field.read ? (this->*(field.read))() : stored(field.offset);
}

void ZephModel::storeField(const StatusField& field, int64_t value) {
    stored(field.offset) = value;
    if (field.follow) (this->*(field.follow))();
}

uint32_t ZephModel::channelsInUse() const { return static_cast<uint32_t>(stored(kConversionGainAt)); }

// The sum over the ROI table's entries, or over the whole spectrum without any.
uint64_t ZephModel::integral() const {
    if (m_roiCount == 0) return spectrum().sum(0, kLastChannel);
    uint64_t total = 0;
    for (uint32_t slot = 1; slot <= m_roiCount; ++slot) total += spectrum().sum(m_rois[slot].start, m_rois[slot].end);
    return total;
}

bool ZephModel::familyPresetReached() const {
    return stored(kPresetKindAt) == kIntegralPreset && integral() >= static_cast<uint64_t>(stored(kPresetValueAt));
}

// ----- What follows a status field --------------------------------------------

void ZephModel::followPresets() {
    const int64_t kind = stored(kPresetKindAt);
    const uint64_t limitUs = static_cast<uint64_t>(stored(kPresetValueAt)) * 1000000;
    setTimePresets(kind == kLivePreset ? limitUs : kNoPreset, kind == kTruePreset ? limitUs : kNoPreset);
}

void ZephModel::followHighVoltage() {
    m_measurements[MeasurementIndex(kHighVoltageMonitorAt)] =
        static_cast<uint32_t>(std::lround(static_cast<double>(stored(kHighVoltageAt)) / 1.2));
}

// The run follows the state written: 2 resumes it, any other ends it.
void ZephModel::followState() {
    if (stored(kStateAt) == kRunning) {
        if (!acquiring()) startAcquisition();
    } else if (acquiring()) {
        AcquiringModel::stopAcquisition();
    }
}

// A new true time keeps the dead time, as far as it fits.
void ZephModel::followTrueTime() {
    const uint64_t deadUs = trueUs() - liveUs();
    const uint64_t newTrueUs = static_cast<uint64_t>(stored(kTrueTimeAt)) * 1000000;
    setTimes(newTrueUs, newTrueUs > deadUs ? newTrueUs - deadUs : 0);
}

// A new dead time keeps the true time unless it is longer.
void ZephModel::followDeadTime() {
    const uint64_t deadUs = static_cast<uint64_t>(stored(kDeadTimeAt)) * 1000;
    const uint64_t newTrueUs = trueUs() > deadUs ? trueUs() : deadUs;
    setTimes(newTrueUs, newTrueUs - deadUs);
}

void ZephModel::followCountRate() { setCountRate(static_cast<double>(stored(kCountRateAt))); }

int64_t ZephModel::trueSeconds() const { return static_cast<int64_t>(trueUs() / 1000000); }
int64_t ZephModel::countRate() const { return std::llround(spectrum().countRate()); }
int64_t ZephModel::deadMs() const { return static_cast<int64_t>((trueUs() - liveUs()) / 1000); }

// ----- Commands -----------------------------------------------------------------

bool ZephModel::initialise(const Request&, std::string&) {
    for (const StatusField& field : kStatusFields) {
        if (field.group == Group::kSetting) storeField(field, field.initial);
    }
    clearData();
    m_rois = {};
    m_roiCount = 0;
    m_highVoltageTarget = 0;
    m_marked = {};
    return true;
}

bool ZephModel::start(const Request& request, std::string&) {
    const uint16_t anew = request.params[0];
    if (anew > 1) return false;
    if (anew) stored(kStartTimeAt) = request.params[1] | static_cast<int64_t>(request.params[2]) << 16;
    startAcquisition();
    return true;
}

bool ZephModel::stop(const Request&, std::string&) {
    stopAcquisition();
    return true;
}

// 0 the counts, 1 the times, 3 both; without times there is no run to resume.
bool ZephModel::clear(const Request& request, std::string&) {
    const uint16_t what = request.params[0];
    if (what != 0 && what != 1 && what != 3) return false;
    if (what != 1) clearCounts();
    if (what == 0) return true;
    clearTimes();
    if (!acquiring()) setState(kIdle);
    return true;
}

// Each parameter sets the status field its row names; one the field does
// not take refuses the whole request.
bool ZephModel::setFields(const Request& request, std::string&) {
    const Command* command = findCommand(request.code);
    const StatusField* fields[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        if (command->params[i] == kFree) continue;
        fields[i] = findField(command->params[i]);
        if (!fields[i]->rule.takes(fields[i]->rule.fromParameter(request.params[i]))) return false;
    }
    for (size_t i = 0; i < 3; ++i) {
        if (fields[i]) storeField(*fields[i], fields[i]->rule.fromParameter(request.params[i]));
    }
    return true;
}

bool ZephModel::preset(const Request& request, std::string&) {
    const StatusField& kind = *findField(kPresetKindAt);
    if (!kind.rule.takes(request.params[0])) return false;
    const int64_t value = request.params[1] | static_cast<int64_t>(request.params[2]) << 16;
    stored(kPresetValueAt) = request.params[0] == 0 ? 0 : value;
    storeField(kind, request.params[0]);
    return true;
}

bool ZephModel::markRegion(const Request& request, std::string&) {
    const uint32_t start = request.params[0], length = request.params[1];
    if (length == 0 || start + length > kChannels) return false;
    m_marked = {static_cast<uint16_t>(start), static_cast<uint16_t>(length)};
    return true;
}

// p1: 0 off, 1 on at the region's centre, or the peak channel itself.
bool ZephModel::stabilisation(const Request& request, std::string&) {
    const uint32_t mode = request.params[0], start = request.params[1], end = request.params[2];
    const uint32_t peak = mode == 1 ? (start + end) / 2 : mode;
    if (start > end || end > kLastChannel || peak > kLastChannel || (mode != 0 && peak == 0)) return false;
    stored(kPeakAt) = peak;
    stored(kRegionStartAt) = start;
    stored(kRegionEndAt) = end;
    return true;
}

// Slot 0: the marker and the ROI count; 1 to 30: an ROI's start and end;
// 31: the high-voltage target.
bool ZephModel::writeSlot(uint32_t slot, uint32_t first, uint32_t second) {
    if (slot == 0) {
        if (first != kTableMarker || second > kRoiSlots) return false;
        m_roiCount = second;
    } else if (slot <= kRoiSlots) {
        if (first > second || second > kLastChannel) return false;
        m_rois[slot] = {static_cast<uint16_t>(first), static_cast<uint16_t>(second)};
    } else if (slot == kHighVoltageSlot) {
        if (first > kMaxHighVoltage || second != 0) return false;
        m_highVoltageTarget = first;
    } else {
        return false;
    }
    return true;
}

bool ZephModel::writeTableSlot(const Request& request, std::string&) {
    return writeSlot(request.params[0], request.params[1], request.params[2]);
}

bool ZephModel::readTableSlot(const Request& request, std::string& reply) {
    const uint32_t slot = request.params[0];
    if (slot > kHighVoltageSlot) return false;
    const uint32_t value = slot == 0                  ? kTableMarker | m_roiCount << 16
                           : slot == kHighVoltageSlot ? m_highVoltageTarget
                                                      : m_rois[slot].start | static_cast<uint32_t>(m_rois[slot].end) << 16;
    Put32(reply, 2, value);
    return true;
}

bool ZephModel::measurements(const Request&, std::string& reply) {
    for (size_t i = 0; i < m_measurements.size(); ++i) Put32(reply, kMeasurements[i].offset, m_measurements[i]);
    return true;
}

bool ZephModel::statusFrame(const Request&, std::string& reply) {
    for (const StatusField& field : kStatusFields) {
        const uint64_t value = static_cast<uint64_t>(fieldValue(field));
        if (field.bytes == 4) {
            Put32(reply, field.offset, static_cast<uint32_t>(value > 0xffffffffu ? 0xffffffffu : value));
        } else {
            Put16(reply, field.offset, static_cast<uint16_t>(value & 0xffff));
        }
    }
    return true;
}

bool ZephModel::readBlock(const Request& request, std::string& reply) {
    const uint32_t first = request.params[0];
    if (first > kChannels - kBlockChannels || request.params[1] != 1) return false;
    for (uint32_t i = 0; i < kBlockChannels; ++i) Put32(reply, 2 + 4 * i, count(first + i));
    return true;
}

// ----- Control ------------------------------------------------------------------

std::string ZephModel::framedRequest(const std::string& text, std::string& error) const {
    const std::vector<std::string> words = SplitWords(text);
    int64_t values[4] = {0, 0, 0, 0};
    bool valid = !words.empty() && words.size() <= 4;
    for (size_t i = 0; valid && i < words.size(); ++i) {
        valid = ParseNumber(words[i], values[i]) && values[i] >= (i == 0 ? 0 : -32768) && values[i] <= 0xffff;
    }
    if (!valid) {
        error = "usage: request CODE [P1 [P2 [P3]]], each 0 to 65535 (decimal or 0x), a parameter also -32768 to -1";
        return std::string();
    }
    std::string frame(kRequestBytes, '\0');
    frame[0] = static_cast<char>(kSync[0]);
    frame[1] = static_cast<char>(kSync[1]);
    for (size_t i = 0; i < 4; ++i) Put16(frame, 2 + 2 * i, static_cast<uint16_t>(values[i] & 0xffff));
    frame[10] = static_cast<char>(kEndMark[0]);
    frame[11] = static_cast<char>(kEndMark[1]);
    return frame;
}

const ControlRow<ZephModel::ControlHandler> ZephModel::kControls[] = {
    {"status", &ZephModel::controlStatus,
     "status OFFSET [VALUE]     a field of the status frame by its offset: read, or set as the\n"
     "                          instrument would have it (130: 0 idle, 2 running, 3 stopped, 4 preset\n"
     "                          reached; 22 true time s, 30 dead time ms, 26 count rate)"},
    {"measure", &ZephModel::controlMeasure,
     "measure OFFSET [VALUE]    a measurement of the 0x59 reply (2 6 10 14 18 22 26 30 54): read or set"},
    {"roi", &ZephModel::controlRoi,
     "roi SLOT [START END]      a slot of the ROI table (1 to 30); roi 0 [COUNT] the ROIs in use,\n"
     "                          roi 31 [VOLTS] the high-voltage target, roi mark the region last marked"},
};

// An empty reply: a bare 'status' is the simulator's.
bool ZephModel::familyControl(const Words& words, std::string& reply) {
    const auto* row = FindControl(kControls, words[0]);
    if (row) reply = (this->*(row->handler))(words);
    return row != nullptr && !reply.empty();
}

std::string ZephModel::familyControlHelp() const { return ControlHelpText(kControls); }

std::string ZephModel::controlStatus(const Words& words) {
    if (words.size() == 1) return std::string();
    uint64_t offset = 0;
    const StatusField* field = ParseUnsigned(words[1], offset) && offset < kReplyBytes
                                   ? findField(static_cast<uint32_t>(offset))
                                   : nullptr;
    if (words.size() > 3 || field == nullptr) {
        std::string offsets;
        for (const StatusField& known : kStatusFields) offsets += " " + std::to_string(known.offset);
        return Err("usage: status OFFSET [VALUE], OFFSET one of" + offsets);
    }
    if (words.size() == 2) return Ok(std::to_string(fieldValue(*field)));
    int64_t value = 0;
    if (!ParseNumber(words[2], value) || !field->rule.takes(value)) {
        return Err("status " + words[1] + " takes " + field->rule.text());
    }
    storeField(*field, value);
    return Ok();
}

std::string ZephModel::controlMeasure(const Words& words) {
    uint64_t offset = 0, value = 0;
    const int index = words.size() >= 2 && ParseUnsigned(words[1], offset) && offset < kReplyBytes
                          ? MeasurementIndex(static_cast<uint32_t>(offset))
                          : -1;
    if (index < 0 || words.size() > 3) return Err("usage: measure OFFSET [VALUE], OFFSET one of 2 6 10 14 18 22 26 30 54");
    if (words.size() == 2) return Ok(std::to_string(m_measurements[index]));
    if (!ParseUnsigned(words[2], value) || value > 0xffffffffu) {
        return Err("a measurement is a number from 0 to 4294967295");
    }
    m_measurements[index] = static_cast<uint32_t>(value);
    return Ok();
}

std::string ZephModel::slotText(uint32_t slot) const {
    if (slot == 0) return std::to_string(m_roiCount);
    if (slot == kHighVoltageSlot) return std::to_string(m_highVoltageTarget);
    return std::to_string(m_rois[slot].start) + " " + std::to_string(m_rois[slot].end);
}

// Through the same checks as 0x57, so a test cannot set up what the
// instrument would refuse.
std::string ZephModel::controlRoi(const Words& words) {
    if (words.size() == 2 && words[1] == "mark") {
        return Ok(std::to_string(m_marked.start) + " " + std::to_string(m_marked.length));
    }
    const std::string slots = "roi SLOT [START END] (1 to 30, START <= END <= 4095), roi 0 [COUNT] (0 to 30), "
                              "roi 31 [VOLTS] (0 to 3000), roi mark";
    const std::string usage = "usage: " + slots;
    uint64_t slot = 0;
    if (words.size() < 2 || !ParseUnsigned(words[1], slot) || slot > kHighVoltageSlot) return Err(usage);
    const bool pair = slot != 0 && slot != kHighVoltageSlot;
    if (words.size() == 2) return Ok(slotText(static_cast<uint32_t>(slot)));
    uint64_t first = 0, second = 0;
    if (words.size() != (pair ? 4u : 3u) || !ParseUnsigned(words[2], first) || first > 0xffff ||
        (pair && (!ParseUnsigned(words[3], second) || second > 0xffff))) {
        return Err(usage);
    }
    const bool written = slot == 0 ? writeSlot(0, kTableMarker, static_cast<uint32_t>(first))
                                   : writeSlot(static_cast<uint32_t>(slot), static_cast<uint32_t>(first),
                                               static_cast<uint32_t>(second));
    return written ? Ok() : Err("the instrument takes " + slots);
}

}  // namespace sim
}  // namespace linkbay
