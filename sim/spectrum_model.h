// What an instrument counts: pulses drawn from a fixed spectrum shape (peaks
// on a continuum) with a fixed-seed generator, so every run is repeatable.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace linkbay {
namespace sim {

// Small, fast and the same on every platform (splitmix64).
class Prng {
public:
    explicit Prng(uint64_t seed) : m_state(seed) {}
    uint64_t next();
    double uniform();  // [0, 1)
    uint64_t poisson(double mean);

private:
    uint64_t m_state;
};

class SpectrumModel {
public:
    static constexpr uint64_t kSeed = 0x5eed1234abcdULL;
    static constexpr uint32_t kMaxChannels = 32768;
    // The shape spans the channels whatever their number (1 to kMaxChannels).
    explicit SpectrumModel(uint32_t channels);
    uint32_t channels() const { return m_channels; }

    // Adds the pulses of liveSeconds at the count rate; channelsInUse folds
    // the shape onto the channels of the conversion gain.
    void accumulate(double liveSeconds, uint32_t channelsInUse);
    void clear();
    // Restarts the generator as if the instrument had just been switched on.
    void reseed();

    uint32_t count(uint32_t channel) const { return channel < m_channels ? m_counts[channel] : 0; }
    void setCount(uint32_t channel, uint32_t value);
    // Quick whatever the range: preset checks sum up to 29 ROIs every step.
    uint64_t sum(uint32_t first, uint32_t last) const;

    double countRate() const { return m_countRate; }
    void setCountRate(double perSecond) { m_countRate = perSecond < 0 ? 0 : perSecond; }

private:
    uint32_t drawChannel();
    void addToSums(uint32_t channel, uint64_t delta);
    uint64_t sumBelow(uint32_t end) const;

    uint32_t m_channels;
    std::vector<uint32_t> m_counts;
    // Partial sums of the counts (a Fenwick tree), so that a range sum takes
    // a dozen steps instead of one per channel.
    std::vector<uint64_t> m_sums;
    std::vector<double> m_cumulative;  // normalised distribution of pulse heights
    // For each of as many equal slices of [0, 1) as there are channels, the
    // first channel a draw in it can land on, so that a draw scans one or two.
    std::vector<uint16_t> m_guide;
    Prng m_prng;
    double m_countRate = 2000.0;
};

// Time of a run, advanced in fixed steps so that counts depend only on how
// long the instrument acquired, never on when it was asked.
class Acquisition {
public:
    static constexpr uint64_t kStepUs = 20000;

    bool running() const { return m_running; }
    void start() { m_running = true; }
    void stop() { m_running = false; }
    void clearTimes();

    // Runs whole steps up to the time given; stops (and keeps the times of
    // the last step) as soon as presetReached answers true.
    void advance(uint64_t elapsedUs, SpectrumModel& spectrum, uint32_t channelsInUse,
                 const std::function<bool()>& presetReached);
    // Forgets time not yet spent on a whole step.
    void dropRemainder() { m_pendingUs = 0; }

    uint64_t trueUs() const { return m_trueUs; }
    uint64_t liveUs() const { return m_liveUs; }
    // Live time never exceeds true time.
    void setTimes(uint64_t trueUs, uint64_t liveUs) {
        m_trueUs = trueUs;
        m_liveUs = liveUs < trueUs ? liveUs : trueUs;
    }
    uint32_t livePercent() const { return m_livePercent; }
    void setLivePercent(uint32_t percent) { m_livePercent = percent > 100 ? 100 : percent; }

private:
    bool m_running = false;
    uint64_t m_trueUs = 0;
    uint64_t m_liveUs = 0;
    uint64_t m_pendingUs = 0;
    uint32_t m_livePercent = 97;
};

}  // namespace sim
}  // namespace linkbay
