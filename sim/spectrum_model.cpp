#include "sim/spectrum_model.h"

#include <algorithm>
#include <cmath>

namespace linkbay {
namespace sim {

uint64_t Prng::next() {
    uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double Prng::uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

uint64_t Prng::poisson(double mean) {
    if (mean <= 0) return 0;
    if (mean < 30) {
        const double limit = std::exp(-mean);
        uint64_t k = 0;
        double product = uniform();
        while (product > limit) {
            ++k;
            product *= uniform();
        }
        return k;
    }
    // Large means: the normal approximation is indistinguishable here.
    const double u1 = std::max(uniform(), 1e-300);
    const double u2 = uniform();
    const double normal = std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    const double value = std::round(mean + std::sqrt(mean) * normal);
    return value < 0 ? 0 : static_cast<uint64_t>(value);
}

namespace {
struct Peak {
    double centre;
    double sigma;
    double weight;
};
// A falling continuum under three lines of different width and strength, in
// channels of a 4096-channel spectrum; other sizes stretch it.
const Peak kPeaks[] = {{662.0, 9.0, 0.18}, {1460.0, 14.0, 0.10}, {2614.0, 20.0, 0.06}};
constexpr double kContinuumWeight = 0.66;
constexpr double kContinuumScale = 700.0;
constexpr double kShapeChannels = 4096.0;

double ShapeAt(double x) {
    double value = kContinuumWeight * std::exp(-x / kContinuumScale) / kContinuumScale + 2e-5;
    for (const Peak& peak : kPeaks) {
        const double d = (x - peak.centre) / peak.sigma;
        value += peak.weight * std::exp(-0.5 * d * d) / (peak.sigma * 2.5066282746310002);
    }
    return value;
}
}  // namespace

SpectrumModel::SpectrumModel(uint32_t channels)
    : m_channels(std::min(std::max(channels, 1u), kMaxChannels)),
      m_counts(m_channels),
      m_sums(m_channels + 1),
      m_cumulative(m_channels),
      m_guide(m_channels),
      m_prng(kSeed) {
    double total = 0;
    for (uint32_t channel = 0; channel < m_channels; ++channel) {
        total += ShapeAt(channel * kShapeChannels / m_channels);
        m_cumulative[channel] = total;
    }
    for (double& value : m_cumulative) value /= total;
    m_cumulative[m_channels - 1] = 1.0;
    // The slots' lower ends rise, so one sweep finds each slot's first channel
    // above it (32768 binary searches take a fuzzed run most of its time).
    uint32_t channel = 0;
    for (uint32_t slot = 0; slot < m_channels; ++slot) {
        const double low = static_cast<double>(slot) / m_channels;
        while (channel < m_channels - 1 && m_cumulative[channel] <= low) ++channel;
        m_guide[slot] = static_cast<uint16_t>(channel);
    }
}

// The first channel whose cumulative share exceeds the draw.
uint32_t SpectrumModel::drawChannel() {
    const double u = m_prng.uniform();
    uint32_t channel = m_guide[static_cast<uint32_t>(u * m_channels)];
    while (channel < m_channels - 1 && m_cumulative[channel] <= u) ++channel;
    return channel;
}

void SpectrumModel::addToSums(uint32_t channel, uint64_t delta) {
    for (uint32_t i = channel + 1; i <= m_channels; i += i & (0 - i)) m_sums[i] += delta;
}

uint64_t SpectrumModel::sumBelow(uint32_t end) const {
    uint64_t total = 0;
    for (uint32_t i = end; i > 0; i -= i & (0 - i)) total += m_sums[i];
    return total;
}

void SpectrumModel::accumulate(double liveSeconds, uint32_t channelsInUse) {
    if (channelsInUse == 0 || channelsInUse > m_channels) channelsInUse = m_channels;
    const uint64_t pulses = m_prng.poisson(m_countRate * liveSeconds);
    for (uint64_t i = 0; i < pulses; ++i) {
        const uint32_t channel = drawChannel() * channelsInUse / m_channels;
        if (m_counts[channel] < 0x7fffffffu) {
            ++m_counts[channel];
            addToSums(channel, 1);
        }
    }
}

void SpectrumModel::clear() {
    std::fill(m_counts.begin(), m_counts.end(), 0u);
    std::fill(m_sums.begin(), m_sums.end(), uint64_t{0});
}

void SpectrumModel::reseed() { m_prng = Prng(kSeed); }

void SpectrumModel::setCount(uint32_t channel, uint32_t value) {
    if (channel >= m_channels) return;
    // Unsigned wrap-around makes a smaller value a negative delta.
    addToSums(channel, static_cast<uint64_t>(value) - m_counts[channel]);
    m_counts[channel] = value;
}

uint64_t SpectrumModel::sum(uint32_t first, uint32_t last) const {
    if (first > last || first >= m_channels) return 0;
    return sumBelow(std::min(last, m_channels - 1) + 1) - sumBelow(first);
}

void Acquisition::clearTimes() {
    m_trueUs = 0;
    m_liveUs = 0;
    m_pendingUs = 0;
}

void Acquisition::advance(uint64_t elapsedUs, SpectrumModel& spectrum, uint32_t channelsInUse,
                          const std::function<bool()>& presetReached) {
    if (!m_running) return;
    if (presetReached()) {
        m_running = false;
        return;
    }
    m_pendingUs += elapsedUs;
    while (m_pendingUs >= kStepUs) {
        m_pendingUs -= kStepUs;
        const uint64_t liveStep = kStepUs * m_livePercent / 100;
        m_trueUs += kStepUs;
        m_liveUs += liveStep;
        spectrum.accumulate(static_cast<double>(liveStep) / 1e6, channelsInUse);
        if (presetReached()) {
            m_running = false;
            m_pendingUs = 0;
            return;
        }
    }
}

}  // namespace sim
}  // namespace linkbay
