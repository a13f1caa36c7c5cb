#include "sim/acquiring_model.h"

#include <cstdio>
#include <ctime>

#include "sim/byte_escapes.h"
#include "sim/control_words.h"

namespace linkbay {
namespace sim {

namespace {

CalendarTime FromTm(const std::tm& fields) {
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec};
}

std::time_t ToTime(const CalendarTime& time) {
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_hour = time.hour;
    fields.tm_min = time.minute;
    fields.tm_sec = time.second;
    return timegm(&fields);
}

CalendarTime FromTime(std::time_t seconds) {
    std::tm fields{};
    gmtime_r(&seconds, &fields);
    return FromTm(fields);
}

// "YYYY-MM-DD" and "hh:mm:ss", digits where the pattern has 9.
bool ParseCalendarTime(const std::string& date, const std::string& clock, CalendarTime& time) {
    const std::string text = date + " " + clock;
    const std::string pattern = "9999-99-99 99:99:99";
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
    }
    return std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &time.year, &time.month, &time.day, &time.hour,
                       &time.minute, &time.second) == 6 &&
           IsCalendarTime(time);
}

std::string CalendarText(const CalendarTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                  time.minute, time.second);
    return text;
}

}  // namespace

bool IsCalendarTime(const CalendarTime& time) {
    return time.year >= 1970 && time.year <= 9999 && FromTime(ToTime(time)) == time;
}

bool operator==(const CalendarTime& a, const CalendarTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second;
}

AcquiringModel::AcquiringModel(uint32_t channels) : m_spectrum(channels) {}

void AcquiringModel::setTimePresets(uint64_t liveLimitUs, uint64_t trueLimitUs) {
    m_liveLimitUs = liveLimitUs;
    m_trueLimitUs = trueLimitUs;
}

bool AcquiringModel::presetReached() const {
    return m_acquisition.liveUs() >= m_liveLimitUs || m_acquisition.trueUs() >= m_trueLimitUs ||
           familyPresetReached();
}

void AcquiringModel::advance(uint64_t elapsedUs) {
    m_acquisition.advance(elapsedUs, m_spectrum, channelsInUse(), [this] { return presetReached(); });
}

void AcquiringModel::startAcquisition() {
    if (m_acquisition.running()) return;
    m_startTime = clockNow();
    m_acquisition.start();
    advance(0);
}

void AcquiringModel::stopAcquisition() {
    m_acquisition.stop();
    m_acquisition.dropRemainder();
}

void AcquiringModel::clearData() {
    clearCounts();
    clearTimes();
}

void AcquiringModel::setClock(const CalendarTime& time) {
    m_clockSet = !(time == CalendarTime{});
    if (m_clockSet) m_clockOffset = static_cast<int64_t>(ToTime(time)) - static_cast<int64_t>(std::time(nullptr));
}

CalendarTime AcquiringModel::clockNow() const {
    if (!m_clockSet) return CalendarTime{};
    return FromTime(static_cast<std::time_t>(std::time(nullptr) + m_clockOffset));
}

const ControlRow<AcquiringModel::ControlHandler> AcquiringModel::kControls[] = {
    {"counts", &AcquiringModel::controlCounts, "counts FIRST N            the counts of N channels from FIRST"},
    {"set-counts", &AcquiringModel::controlSetCounts, "set-counts FIRST V...     set channel counts from FIRST on"},
    {"times", &AcquiringModel::controlTimes, "times                     true and live time in microseconds"},
    {"set", &AcquiringModel::controlSet, "set NAME VALUE            one of the settings listed below"},
    {"date", &AcquiringModel::controlDate,
     "date [YYYY-MM-DD hh:mm:ss|unset]  the instrument's clock: read, set, or back to unset"},
    {"request", &AcquiringModel::controlRequest,
     "request TEXT...           hand the instrument a request past the line, framed as on the\n"
     "                          wire; its reply, escaped"},
};

bool AcquiringModel::control(const Words& words, std::string& reply) {
    if (const auto* row = FindControl(kControls, words[0])) {
        reply = (this->*(row->handler))(words);
        return true;
    }
    return familyControl(words, reply);
}

std::string AcquiringModel::controlHelp() const {
    std::string settings;
    for (const Setting* setting : allSettings()) settings += std::string("  ") + setting->help + "\n";
    return ControlHelpText(kControls) + familyControlHelp() + "Settings (set NAME VALUE):\n" + settings;
}

std::string AcquiringModel::controlCounts(const Words& words) {
    uint64_t first = 0, count = 0;
    if (words.size() != 3 || !ParseUnsigned(words[1], first) || !ParseUnsigned(words[2], count) ||
        first > channels() || count > channels() - first) {
        return Err("usage: counts FIRST N (channels 0 to " + std::to_string(channels() - 1) + ")");
    }
    std::string text;
    for (uint64_t channel = first; channel < first + count; ++channel) {
        text += (text.empty() ? "" : " ") + std::to_string(m_spectrum.count(static_cast<uint32_t>(channel)));
    }
    return Ok(text);
}

// All or nothing: a bad value leaves every count as it was.
std::string AcquiringModel::controlSetCounts(const Words& words) {
    uint64_t first = 0;
    if (words.size() < 3 || !ParseUnsigned(words[1], first) || first > channels() ||
        words.size() - 2 > channels() - first) {
        return Err("usage: set-counts FIRST V... (channels 0 to " + std::to_string(channels() - 1) + ")");
    }
    std::vector<uint32_t> values;
    for (size_t i = 2; i < words.size(); ++i) {
        uint64_t value = 0;
        if (!ParseUnsigned(words[i], value) || value > 0xffffffffu) {
            return Err("count '" + words[i] + "' is not a number from 0 to 4294967295");
        }
        values.push_back(static_cast<uint32_t>(value));
    }
    for (size_t i = 0; i < values.size(); ++i) m_spectrum.setCount(static_cast<uint32_t>(first + i), values[i]);
    return Ok();
}

std::string AcquiringModel::controlTimes(const Words&) {
    return Ok(std::to_string(m_acquisition.trueUs()) + " " + std::to_string(m_acquisition.liveUs()));
}

const std::vector<AcquiringModel::Setting>& AcquiringModel::familySettings() const {
    static const std::vector<Setting> kNone;
    return kNone;
}

std::vector<const AcquiringModel::Setting*> AcquiringModel::allSettings() const {
    static const Setting kCommon[] = {
        {"live-percent", true, 100,
         [](AcquiringModel& m, double v) { m.m_acquisition.setLivePercent(static_cast<uint32_t>(v)); },
         "live-percent N          live time in percent of true time (0 to 100)"},
        {"rate", false, kMaxCountRate, [](AcquiringModel& m, double v) { m.setCountRate(v); },
         "rate R                  pulses a second while acquiring (up to 10000)"},
    };
    std::vector<const Setting*> settings;
    for (const Setting& setting : kCommon) settings.push_back(&setting);
    for (const Setting& setting : familySettings()) settings.push_back(&setting);
    return settings;
}

std::string AcquiringModel::settingNames() const {
    std::string names;
    for (const Setting* setting : allSettings()) names += (names.empty() ? "" : ", ") + std::string(setting->name);
    return names;
}

std::string AcquiringModel::controlSet(const Words& words) {
    if (words.size() != 3) return Err("usage: set NAME VALUE (" + settingNames() + ")");
    for (const Setting* setting : allSettings()) {
        if (words[1] != setting->name) continue;
        uint64_t whole = 0;
        double real = 0;
        const bool valid = setting->whole ? ParseUnsigned(words[2], whole) && whole <= setting->maximum
                                          : ParseReal(words[2], real) && real >= 0 && real <= setting->maximum;
        if (!valid) return Err("cannot set " + words[1] + " to " + words[2]);
        setting->apply(*this, setting->whole ? static_cast<double>(whole) : real);
        return Ok();
    }
    return Err("no setting '" + words[1] + "': " + settingNames());
}

std::string AcquiringModel::controlDate(const Words& words) {
    CalendarTime time;
    if (words.size() == 1) return Ok(m_clockSet ? CalendarText(clockNow()) : "unset");
    if (words.size() == 2 && words[1] == "unset") {
        setClock(CalendarTime{});
    } else if (words.size() == 3 && ParseCalendarTime(words[1], words[2], time)) {
        setClock(time);
    } else {
        return Err("usage: date [YYYY-MM-DD hh:mm:ss|unset], a real date and time from 1970 on");
    }
    return Ok();
}

// Past the line: no exchange, no fault, nothing in the wire log, so a test
// can set the instrument up without the setup showing among the bytes.
std::string AcquiringModel::controlRequest(const Words& words) {
    if (words.size() < 2) return Err("usage: request TEXT..., the request as on the wire without its framing");
    std::string text = words[1];
    for (size_t i = 2; i < words.size(); ++i) text += " " + words[i];
    std::string error;
    const std::string request = framedRequest(text, error);
    if (request.empty()) return Err(error);
    return Ok(EscapeBytes(answer(request)));
}

}  // namespace sim
}  // namespace linkbay
