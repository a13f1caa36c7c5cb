// What every simulated analyser has whatever its wire protocol: a spectrum
// that fills while it acquires, live and true time with their presets, a
// clock of its own, and the control commands over these. A family model
// adds its framing, its registers and the presets it computes itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/control_table.h"
#include "sim/instrument_model.h"
#include "sim/spectrum_model.h"

namespace linkbay {
namespace sim {

// A date and time as an instrument's clock shows it; all fields 0: not set.
struct CalendarTime {
    int year = 0;  // four digits
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
bool operator==(const CalendarTime& a, const CalendarTime& b);
// A real date and time from 1970 on: calendar arithmetic leaves it as it is.
bool IsCalendarTime(const CalendarTime& time);

class AcquiringModel : public InstrumentModel {
public:
    static constexpr uint64_t kNoPreset = UINT64_MAX;
    // Each pulse is drawn: at this rate an hour's 'advance' stays well under
    // the time-outs of a driver waiting on the line meanwhile.
    static constexpr double kMaxCountRate = 1e4;
    using Words = std::vector<std::string>;

    explicit AcquiringModel(uint32_t channels);

    void advance(uint64_t elapsedUs) override;
    void startAcquisition() override;
    void stopAcquisition() override;
    bool acquiring() const override { return m_acquisition.running(); }
    uint32_t count(uint32_t channel) const override { return m_spectrum.count(channel); }
    void setCount(uint32_t channel, uint32_t value) override { m_spectrum.setCount(channel, value); }
    bool control(const Words& words, std::string& reply) override;
    std::string controlHelp() const override;

    uint32_t channels() const { return m_spectrum.channels(); }
    uint64_t trueUs() const { return m_acquisition.trueUs(); }
    uint64_t liveUs() const { return m_acquisition.liveUs(); }

    // The time presets (kNoPreset: none); whichever is reached first stops
    // the run, a preset of 0 at once.
    void setTimePresets(uint64_t liveLimitUs, uint64_t trueLimitUs);

    // Sets the clock to the time given from now on; all fields 0 unset it.
    // Fields beyond their range carry over, as calendar arithmetic does.
    void setClock(const CalendarTime& time);
    // The clock now; all fields 0 while it is not set.
    CalendarTime clockNow() const;
    // The clock when the run last started.
    const CalendarTime& startTime() const { return m_startTime; }

protected:
    // A setting of the 'set' command: a number up to maximum (whole or not).
    struct Setting {
        const char* name;
        bool whole;
        double maximum;
        void (*apply)(AcquiringModel& model, double value);
        const char* help;  // one line, without its line end
    };

    // Drops the counts and the times.
    void clearData();
    void clearCounts() { m_spectrum.clear(); }
    void clearTimes() { m_acquisition.clearTimes(); }
    // Puts the run's times where a test or the instrument wants them.
    void setTimes(uint64_t trueUs, uint64_t liveUs) { m_acquisition.setTimes(trueUs, liveUs); }
    void setCountRate(double perSecond) { m_spectrum.setCountRate(perSecond); }
    // An instrument that lets its driver say when the run started.
    void setStartTime(const CalendarTime& time) { m_startTime = time; }
    const SpectrumModel& spectrum() const { return m_spectrum; }

    // The channels a run fills; a family with a conversion gain folds the
    // spectrum onto fewer.
    virtual uint32_t channelsInUse() const { return channels(); }
    // Presets a family computes itself (integrals of ROIs ...).
    virtual bool familyPresetReached() const { return false; }
    // A request as it goes on the wire, from the text a 'request' command
    // gives; empty when the text is none, with error saying what one is.
    virtual std::string framedRequest(const std::string& text, std::string& error) const = 0;
    // The family's control commands and 'set' names, after the common ones.
    virtual bool familyControl(const Words& words, std::string& reply) = 0;
    virtual std::string familyControlHelp() const = 0;
    virtual const std::vector<Setting>& familySettings() const;

private:
    using ControlHandler = std::string (AcquiringModel::*)(const Words&);
    static const ControlRow<ControlHandler> kControls[];

    bool presetReached() const;
    std::vector<const Setting*> allSettings() const;
    std::string settingNames() const;

    std::string controlCounts(const Words& words);
    std::string controlSetCounts(const Words& words);
    std::string controlTimes(const Words& words);
    std::string controlSet(const Words& words);
    std::string controlDate(const Words& words);
    std::string controlRequest(const Words& words);

    SpectrumModel m_spectrum;
    Acquisition m_acquisition;
    uint64_t m_liveLimitUs = kNoPreset;
    uint64_t m_trueLimitUs = kNoPreset;
    bool m_clockSet = false;
    int64_t m_clockOffset = 0;  // instrument clock minus the computer's, seconds
    CalendarTime m_startTime;
};

}  // namespace sim
}  // namespace linkbay
