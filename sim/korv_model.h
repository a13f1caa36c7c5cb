// A KORV instrument as its driver sees it on the wire: two-digit hexadecimal
// opcodes with decimal arguments, ended by a carriage return.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/acquiring_model.h"

namespace linkbay {
namespace sim {

class KorvModel : public AcquiringModel {
public:
    static constexpr uint32_t kChannels = 4096;
    static constexpr size_t kRoiSlots = 29;
    static constexpr size_t kMaxRequest = 64;

    KorvModel();
    size_t requestLength(const char* bytes, size_t count) const override;
    std::string answer(const std::string& request) override;
    std::string rejection(const std::string& request) const override;

    struct RoiSlot {
        bool defined = false;
        uint16_t start = 0;
        uint16_t end = 0;
        uint32_t integralPreset = 0;
    };
    const RoiSlot& roi(size_t slot) const { return m_rois[slot]; }

    struct Request {
        uint8_t opcode = 0;
        char opcodeText[3] = {0, 0, 0};
        std::vector<int64_t> args;
    };
    using Handler = std::string (KorvModel::*)(const Request&);

private:
    struct Command;
    static const Command* findCommand(uint8_t opcode);
    bool parse(const std::string& request, Request& parsed) const;

    uint32_t channelsInUse() const override;
    bool familyPresetReached() const override;
    std::string framedRequest(const std::string& text, std::string&) const override { return text + "\r"; }
    bool familyControl(const Words& words, std::string& reply) override;
    std::string familyControlHelp() const override;
    const std::vector<Setting>& familySettings() const override;

    std::string acknowledge(const Request& request) const;
    std::string valueReply(const Request& request, const std::string& value) const;
    void followTimePreset();

    std::string setRegister(const Request& request);
    std::string readRegister(const Request& request);
    std::string writeClock(const Request& request);
    std::string readClock(const Request& request);
    std::string probe(const Request& request);
    std::string start(const Request& request);
    std::string stop(const Request& request);
    std::string resetController(const Request& request);
    std::string clearData(const Request& request);
    std::string clearRois(const Request& request);
    std::string defineRoi(const Request& request);
    std::string setIntegralPreset(const Request& request);
    std::string readRoi(const Request& request);
    std::string transfer(const Request& request);
    std::string battery(const Request& request);
    std::string measuredHighVoltage(const Request& request);
    std::string elapsed(const Request& request);
    std::string statusWord(const Request& request);
    std::string livePercentage(const Request& request);
    std::string serialNumber(const Request& request);
    std::string firmwareVersion(const Request& request);
    std::string acquisitionStart(const Request& request);
    std::string integral(const Request& request);

    using ControlHandler = std::string (KorvModel::*)(const Words&);
    static const ControlRow<ControlHandler> kControls[];
    std::string controlWidth(const Words& words);
    std::string controlAnnounce(const Words& words);
    std::string controlRegister(const Words& words);
    std::string controlRoi(const Words& words);

    uint32_t widthFor(uint32_t channels) const;

    std::array<int64_t, 0x20> m_registers{};
    std::array<RoiSlot, kRoiSlots> m_rois{};
    uint32_t m_transferWidth = 0;      // 0: the narrowest that holds every count
    uint32_t m_announcedChannels = 0;  // 0: the conversion gain
    uint32_t m_activeBits = 0x2000;
    double m_batteryVolts = 6.85;
    double m_firmwareVersion = 1.05;
    uint32_t m_serialNumber = 20417;
};

}  // namespace sim
}  // namespace linkbay
