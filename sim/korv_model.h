// A KORV instrument as its driver sees it on the wire: two-digit hexadecimal
// opcodes with decimal arguments, ended by a carriage return.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "sim/instrument_model.h"
#include "sim/spectrum_model.h"

namespace linkbay {
namespace sim {

class KorvModel : public InstrumentModel {
public:
    static constexpr size_t kRoiSlots = 29;
    static constexpr size_t kMaxRequest = 64;

    KorvModel();
    const char* family() const override { return "korv"; }
    size_t requestLength(const char* bytes, size_t count) const override;
    std::string answer(const std::string& request) override;
    std::string rejection(const std::string& request) const override;

    void advance(uint64_t elapsedUs) override;
    void startAcquisition() override;
    void stopAcquisition() override;
    bool acquiring() const override { return m_acquisition.running(); }
    uint32_t count(uint32_t channel) const override { return m_spectrum.count(channel); }
    void setCount(uint32_t channel, uint32_t value) override { m_spectrum.setCount(channel, value); }
    bool control(const std::vector<std::string>& words, std::string& reply) override;
    const char* controlHelp() const override;

    // A setting by the opcode that sets it (0x01 time preset ... 0x1F high voltage on).
    int64_t setting(uint8_t opcode) const;
    // 0 chooses the narrowest width that holds every count; else 1, 2 or 4.
    void setTransferWidth(uint32_t bytesPerChannel) { m_transferWidth = bytesPerChannel; }
    // Channel count the transfer announces (0: the conversion gain).
    void setAnnouncedChannels(uint32_t channels) { m_announcedChannels = channels; }
    uint64_t trueUs() const { return m_acquisition.trueUs(); }
    uint64_t liveUs() const { return m_acquisition.liveUs(); }

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

    std::string acknowledge(const Request& request) const;
    std::string valueReply(const Request& request, const std::string& value) const;

    std::string setRegister(const Request& request);
    std::string readRegister(const Request& request);
    std::string setClock(const Request& request);
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

    std::string controlWidth(const std::vector<std::string>& words);
    std::string controlAnnounce(const std::vector<std::string>& words);
    std::string controlSet(const std::vector<std::string>& words);
    std::string controlRegister(const std::vector<std::string>& words);
    std::string controlRoi(const std::vector<std::string>& words);
    std::string controlTimes(const std::vector<std::string>& words);
    std::string controlRequest(const std::vector<std::string>& words);

    bool presetReached() const;
    uint32_t channelsInUse() const;
    uint32_t widthFor(uint32_t channels) const;
    std::array<int, 6> clockFields() const;
    static std::string clockText(const std::array<int, 6>& fields);

    std::array<int64_t, 0x20> m_registers{};
    bool m_clockSet = false;
    int64_t m_clockOffset = 0;  // instrument clock minus the computer's, seconds
    std::array<int, 6> m_startFields{};
    std::array<RoiSlot, kRoiSlots> m_rois{};
    SpectrumModel m_spectrum;
    Acquisition m_acquisition;
    uint32_t m_transferWidth = 0;
    uint32_t m_announcedChannels = 0;
    uint32_t m_activeBits = 0x2000;
    double m_batteryVolts = 6.85;
    double m_firmwareVersion = 1.05;
    uint32_t m_serialNumber = 20417;
};

}  // namespace sim
}  // namespace linkbay
