// The acquiring-instrument base through a model that adds nothing of a
// family: any spectrum size, time presets, the instrument's clock, and the
// models the family table names.
#include <gtest/gtest.h>

#include "linkbay/families.h"
#include "sim/acquiring_model.h"
#include "sim/control_words.h"

namespace linkbay {
namespace test {
namespace {

constexpr uint64_t kNone = sim::AcquiringModel::kNoPreset;
constexpr uint64_t kSecond = 1000000;

class BareModel : public sim::AcquiringModel {
public:
    explicit BareModel(uint32_t channels) : AcquiringModel(channels) {}
    size_t requestLength(const char*, size_t count) const override { return count; }
    std::string answer(const std::string& request) override { return "answer to " + request; }
    std::string rejection(const std::string&) const override { return "no"; }

    std::string command(const std::string& line) {
        std::string reply;
        return control(sim::SplitWords(line), reply) ? reply : "not the model's\n";
    }

private:
    std::string framedRequest(const std::string& text, std::string& error) const override {
        error = "a request is not 'bad'";
        return text == "bad" ? "" : "[" + text + "]";
    }
    bool familyControl(const Words&, std::string&) override { return false; }
    std::string familyControlHelp() const override { return ""; }
};

std::vector<uint32_t> AcquireFor(uint32_t channels, const std::vector<uint64_t>& stepsMs) {
    BareModel model(channels);
    model.startAcquisition();
    for (uint64_t ms : stepsMs) model.advance(ms * 1000);
    std::vector<uint32_t> counts(channels);
    for (uint32_t channel = 0; channel < channels; ++channel) counts[channel] = model.count(channel);
    return counts;
}

uint64_t Sum(const std::vector<uint32_t>& counts, size_t first, size_t end) {
    uint64_t total = 0;
    for (size_t channel = first; channel < end; ++channel) total += counts[channel];
    return total;
}

TEST(AcquiringModel, TheSpectrumSizeBoundsTheCountCommandsAndTheShapeSpansIt) {
    for (uint32_t size : {256u, 4096u, 32768u}) {
        SCOPED_TRACE(size);
        BareModel model(size);
        const std::string last = std::to_string(size - 1), range = " (channels 0 to " + last + ")\n";
        EXPECT_EQ(model.command("set-counts " + last + " 7"), "ok\n");
        EXPECT_EQ(model.command("counts " + last + " 1"), "ok 7\n");
        EXPECT_EQ(model.command("counts " + last + " 2"), "err usage: counts FIRST N" + range);
        EXPECT_EQ(model.command("set-counts " + std::to_string(size) + " 1"), "err usage: set-counts FIRST V..." + range);
        // 2000 pulses a second at 97 % live time, Poisson-distributed; the
        // first peak (at 662 of 4096) stands out wherever the size puts it.
        const std::vector<uint32_t> counts = AcquireFor(size, {5000});
        EXPECT_EQ(AcquireFor(size, std::vector<uint64_t>(50, 100)), counts) << "counts depend only on time acquired";
        EXPECT_NEAR(static_cast<double>(Sum(counts, 0, size)), 9700.0, 500.0);
        EXPECT_GT(Sum(counts, size * 640 / 4096, size * 685 / 4096), 2 * Sum(counts, size * 740 / 4096, size * 785 / 4096));
        EXPECT_GT(Sum(counts, size * 3 / 4, size), 0u);
    }
}

TEST(AcquiringModel, WhicheverTimePresetComesFirstStopsTheRun) {
    struct Case {
        uint64_t liveLimitUs, trueLimitUs;
        bool acquiring;
        uint64_t trueUs, liveUs;  // after 10 s at 50 % live time
    };
    const Case cases[] = {
        {1 * kSecond, kNone, false, 2 * kSecond, 1 * kSecond},
        {kNone, 1 * kSecond, false, 1 * kSecond, kSecond / 2},
        {1 * kSecond, 3 * kSecond / 2, false, 3 * kSecond / 2, 3 * kSecond / 4},
        {4 * kSecond, 9 * kSecond, false, 8 * kSecond, 4 * kSecond},
        {0, kNone, false, 0, 0},
        {kNone, kNone, true, 10 * kSecond, 5 * kSecond},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.liveLimitUs) + " " + std::to_string(c.trueLimitUs));
        BareModel model(1024);
        ASSERT_EQ(model.command("set live-percent 50"), "ok\n");
        model.setTimePresets(c.liveLimitUs, c.trueLimitUs);
        model.startAcquisition();
        model.advance(10 * kSecond);
        EXPECT_EQ(model.acquiring(), c.acquiring);
        EXPECT_EQ(model.command("times"), "ok " + std::to_string(c.trueUs) + " " + std::to_string(c.liveUs) + "\n");
    }
}

TEST(AcquiringModel, TheClockIsSetAndReadAsARealDateAndTime) {
    struct Case {
        const char* line;
        const char* reply;
    };
    const char kUsage[] = "err usage: date [YYYY-MM-DD hh:mm:ss|unset], a real date and time from 1970 on\n";
    const Case cases[] = {
        {"date", "ok unset\n"},
        {"date 2023-02-29 12:00:00", kUsage}, {"date 2024-13-01 12:00:00", kUsage},
        {"date 2024-04-31 12:00:00", kUsage}, {"date 2024-01-01 24:00:00", kUsage},
        {"date 1969-12-31 23:59:59", kUsage}, {"date 2024-1-01 12:00:00", kUsage},
        {"date 2024-01-01", kUsage},          {"date +024-01-01 12:00:00", kUsage},
        {"date 2024-02-29 23:59:00", "ok\n"},
    };
    BareModel model(1024);
    for (const Case& c : cases) EXPECT_EQ(model.command(c.line), c.reply) << c.line;
    // It runs on from the leap day's last minute.
    EXPECT_EQ(model.command("date").substr(0, 21), "ok 2024-02-29 23:59:0");
    EXPECT_EQ(model.command("date unset"), "ok\n");
    EXPECT_EQ(model.command("date"), "ok unset\n");
}

TEST(AcquiringModel, ARequestPastTheLineIsFramedByTheFamily) {
    BareModel model(1024);
    EXPECT_EQ(model.command("request a  b"), "ok answer to [a b]\n");
    EXPECT_EQ(model.command("request bad"), "err a request is not 'bad'\n");
    EXPECT_EQ(model.command("width 1"), "not the model's\n");
}

TEST(Models, EveryModelTheFamilyTableNamesExists) {
    for (const LinkbayFamily& family : kLinkbayFamilies) {
        if (family.pszSimModel == nullptr) continue;
        EXPECT_NE(sim::CreateModel(family.pszSimModel), nullptr) << family.pszSimModel;
    }
    EXPECT_EQ(sim::CreateModel("KORV"), nullptr);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
