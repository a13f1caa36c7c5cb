// A TAVO or PELLUX instrument as its driver sees it on the wire: numbered
// commands in length-prefixed frames, each answered with exactly as many
// bytes as the request announced: an error pair, then the data. Settings are
// registers by the number of the command that shows them; which command
// stores where is a table, so most commands need no code of their own.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/acquiring_model.h"

namespace linkbay {
namespace sim {

class MmcmdModel : public AcquiringModel {
public:
    static constexpr uint32_t kMaxMemory = 32768;
    static constexpr uint32_t kMinMemory = 512;
    static constexpr uint32_t kDefaultMemory = 16384;
    // Total length (4), reply length (4), command number (2).
    static constexpr size_t kHeaderBytes = 10;
    static constexpr size_t kMaxRequest = 1024;
    static constexpr size_t kMinReply = 2;
    static constexpr size_t kMaxReply = 1024;
    // Bytes that cannot start a frame are dropped once there are more than this.
    static constexpr size_t kMaxNoise = 256;
    static constexpr uint16_t kReadBlock = 187;
    static constexpr uint32_t kBlockChannels = 128;
    static constexpr uint64_t kTickUs = 20000;
    // Error pairs as macro << 8 | micro; a macro of 0 is no refusal.
    static constexpr uint16_t kNoError = 0;
    static constexpr uint16_t kBadParameter = 131 << 8 | 132;
    static constexpr uint16_t kNoSuchCommand = 131 << 8 | 133;
    static constexpr uint16_t kNoRoom = 131 << 8 | 135;
    static constexpr size_t kApplicationNames = 64;
    static constexpr size_t kApplicationTextBytes = 126;
    // Registers a control client or a driver may fill, all indices together.
    static constexpr size_t kMaxRegisters = 4096;
    // The bits of SHOW_STATUS's fourth word.
    enum StatusFlag : uint32_t { kLivePresetReached = 1, kTruePresetReached = 2, kIntegralPresetReached = 4, kHighVoltageOn = 8 };

    // version: what SHOW_VERSION answers until a client sets another.
    explicit MmcmdModel(const std::string& version);
    size_t requestLength(const char* bytes, size_t count) const override;
    std::string answer(const std::string& request) override;
    std::string rejection(const std::string& request) const override;

    uint32_t memory() const { return m_memory; }
    uint64_t liveTicks() const { return liveUs() / kTickUs; }
    uint64_t trueTicks() const { return trueUs() / kTickUs; }
    // The counts of the channels marked as ROIs, or of the whole memory without any.
    uint64_t roiIntegral() const;

    // A request's parameters, split as its command takes them.
    struct Params {
        uint16_t code = 0;
        std::vector<uint32_t> words;     // without the index
        std::vector<std::string> texts;  // without their NULs
        uint32_t index = 0;              // of an indexed register; 0 when not given
    };
    using Handler = uint16_t (MmcmdModel::*)(const Params&, std::string& data);
    struct Rule;
    struct Command;
    struct Store;

private:
    struct Register {
        std::vector<uint32_t> words;
        std::string text;
    };
    struct Run {
        uint32_t start;
        uint32_t length;
    };
    static const Command kCommands[];
    static const size_t kCommandCount;
    static const Store kStores[];
    static const size_t kStoreCount;
    static const Command* findCommand(uint16_t code);

    uint32_t channelsInUse() const override;
    bool familyPresetReached() const override;
    std::string framedRequest(const std::string& text, std::string& error) const override;
    bool familyControl(const Words& words, std::string& reply) override;
    std::string familyControlHelp() const override;

    // Carries a command out; its pair, and the data of the answer.
    uint16_t execute(uint16_t code, const std::string& paramBytes, std::string& data);
    bool parseParams(const Command& command, const std::string& bytes, Params& params) const;
    uint16_t storeParams(const Params& params);
    std::string registerAnswer(const Command& command, uint32_t index) const;
    // The bytes 'request' asks the answer of a command to fill.
    size_t naturalAnswerBytes(const Command& command, uint32_t index) const;

    static uint32_t Key(uint16_t code, uint32_t index) { return static_cast<uint32_t>(code) << 16 | index; }
    const Register* findRegister(uint16_t code, uint32_t index = 0) const;
    // Null when the store is full.
    Register* registerFor(uint16_t code, uint32_t index = 0);
    uint32_t word(uint16_t code, size_t at) const;
    void followRegisters();
    void setMemory(uint32_t channels);

    uint32_t statusFlags() const;
    void markRois(uint32_t first, uint32_t end, bool marked);
    // The channels [first, end) the first two words give as (start, length)
    // when they lie in the memory; the whole memory for no words.
    bool channelsOf(const std::vector<uint32_t>& words, uint32_t& first, uint32_t& end) const;

    // Commands of their own (the rest is the register store).
    uint16_t showActive(const Params&, std::string& data);
    uint16_t showTimes(const Params& params, std::string& data);
    uint16_t showRemaining(const Params& params, std::string& data);
    uint16_t showStatus(const Params&, std::string& data);
    uint16_t showClock(const Params& params, std::string& data);
    uint16_t showRoi(const Params& params, std::string& data);
    uint16_t showSums(const Params& params, std::string& data);
    uint16_t showConfiguration(const Params&, std::string& data);
    uint16_t showHighVoltage(const Params&, std::string& data);
    uint16_t showApplication(const Params& params, std::string& data);
    uint16_t readBlock(const Params& params, std::string& data);
    uint16_t setElapsed(const Params& params, std::string& data);
    uint16_t setClockFields(const Params& params, std::string& data);
    uint16_t setConversionGain(const Params& params, std::string& data);
    uint16_t setRoi(const Params& params, std::string& data);
    uint16_t setData(const Params& params, std::string& data);
    uint16_t setGate(const Params& params, std::string& data);
    uint16_t setApplication(const Params& params, std::string& data);
    uint16_t startRun(const Params&, std::string& data);
    uint16_t stopRun(const Params&, std::string& data);
    uint16_t clearRun(const Params& params, std::string& data);

    using ControlHandler = std::string (MmcmdModel::*)(const Words&);
    static const ControlRow<ControlHandler> kControls[];
    std::string controlRegister(const Words& words);
    std::string controlText(const Words& words);
    std::string controlError(const Words& words);
    std::string controlMemory(const Words& words);

    uint32_t m_memory = kDefaultMemory;
    std::map<uint32_t, Register> m_registers;  // by Key
    std::map<uint16_t, uint16_t> m_errors;     // configured pairs by command number
    std::vector<std::pair<std::string, std::string>> m_applications;
    std::vector<bool> m_roiMarks;
    std::vector<Run> m_roiRuns;  // the marks as runs, kept with them
    uint32_t m_roiCursor = 0;    // after the ROI last answered
};

}  // namespace sim
}  // namespace linkbay
