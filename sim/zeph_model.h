// A ZEPH instrument as its driver sees it on the wire: 12-byte request
// frames and 136-byte reply frames, each behind a sync word, 16-bit fields
// little-endian. Every request it takes gets a reply frame; a refused one
// gets the refusal frame.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/acquiring_model.h"

namespace linkbay {
namespace sim {

class ZephModel : public AcquiringModel {
public:
    static constexpr uint32_t kChannels = 4096;
    static constexpr size_t kRequestBytes = 12;
    static constexpr size_t kReplyBytes = 136;
    static constexpr size_t kTrailerOffset = 134;
    static constexpr uint16_t kRefused = 0xAAAA;  // the trailer of a refusal
    // Bytes without a sync word are dropped once there are more than this.
    static constexpr size_t kMaxNoise = 256;
    static constexpr uint32_t kBlockChannels = 32;
    static constexpr size_t kRoiSlots = 30;

    // The acquisition state of the status frame.
    enum RunState : int64_t { kIdle = 0, kRunning = 2, kStopped = 3, kPresetReached = 4 };

    ZephModel();
    size_t requestLength(const char* bytes, size_t count) const override;
    std::string answer(const std::string& request) override;
    std::string rejection(const std::string& request) const override;

    void advance(uint64_t elapsedUs) override;
    void startAcquisition() override;
    void stopAcquisition() override;

    // A field of the status frame by its offset; false for an offset that
    // starts none.
    bool statusValue(uint32_t offset, int64_t& value) const;

    struct Request {
        uint16_t code = 0;
        uint16_t params[3] = {0, 0, 0};
    };
    struct Rule;
    struct StatusField;
    struct Command;
    using Handler = bool (ZephModel::*)(const Request&, std::string& reply);

private:
    struct RoiSlot {
        uint16_t start = 0;
        uint16_t end = 0;
    };
    struct Region {
        uint16_t start = 0;
        uint16_t length = 0;
    };
    static const StatusField kStatusFields[];
    static const Command kCommands[];
    static const StatusField* findField(uint32_t offset);
    static const Command* findCommand(uint16_t code);

    uint32_t channelsInUse() const override;
    bool familyPresetReached() const override;
    std::string framedRequest(const std::string& text, std::string& error) const override;
    bool familyControl(const Words& words, std::string& reply) override;
    std::string familyControlHelp() const override;

    int64_t& stored(uint32_t offset) { return m_fields[offset / 2]; }
    int64_t stored(uint32_t offset) const { return m_fields[offset / 2]; }
    int64_t fieldValue(const StatusField& field) const;
    // Stores a value the field takes and lets the rest of the model follow.
    void storeField(const StatusField& field, int64_t value);
    void setState(RunState state);
    uint64_t integral() const;
    bool writeSlot(uint32_t slot, uint32_t first, uint32_t second);
    std::string slotText(uint32_t slot) const;

    // What follows a stored status field.
    void followPresets();
    void followHighVoltage();
    void followState();
    void followTrueTime();
    void followDeadTime();
    void followCountRate();
    // Status fields kept by the run rather than stored.
    int64_t trueSeconds() const;
    int64_t countRate() const;
    int64_t deadMs() const;

    bool initialise(const Request& request, std::string& reply);
    bool start(const Request& request, std::string& reply);
    bool stop(const Request& request, std::string& reply);
    bool clear(const Request& request, std::string& reply);
    bool setFields(const Request& request, std::string& reply);
    bool preset(const Request& request, std::string& reply);
    bool markRegion(const Request& request, std::string& reply);
    bool stabilisation(const Request& request, std::string& reply);
    bool writeTableSlot(const Request& request, std::string& reply);
    bool readTableSlot(const Request& request, std::string& reply);
    bool measurements(const Request& request, std::string& reply);
    bool statusFrame(const Request& request, std::string& reply);
    bool readBlock(const Request& request, std::string& reply);

    using ControlHandler = std::string (ZephModel::*)(const Words&);
    static const ControlRow<ControlHandler> kControls[];
    std::string controlStatus(const Words& words);
    std::string controlMeasure(const Words& words);
    std::string controlRoi(const Words& words);

    std::array<int64_t, kReplyBytes / 2> m_fields{};  // by offset / 2
    std::array<uint32_t, 9> m_measurements{};
    std::array<RoiSlot, kRoiSlots + 1> m_rois{};  // slot 0 holds no ROI
    uint32_t m_roiCount = 0;
    uint32_t m_highVoltageTarget = 0;
    Region m_marked{};  // by 0x49
};

}  // namespace sim
}  // namespace linkbay
