// The family-specific part of a simulator: how requests are framed on the
// wire, what the instrument answers, and its own control settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace linkbay {
namespace sim {

class InstrumentModel {
public:
    virtual ~InstrumentModel() = default;

    // Length of the first complete request at the start of the bytes, 0
    // while it is incomplete. Must consume overlong input somehow, so that
    // a peer sending endless noise cannot grow the buffer without bound.
    virtual size_t requestLength(const char* bytes, size_t count) const = 0;
    // Carries the request out and returns the reply bytes (may be empty).
    virtual std::string answer(const std::string& request) = 0;
    // What the instrument sends when it refuses the request.
    virtual std::string rejection(const std::string& request) const = 0;

    // Lets acquisition time pass (microseconds since the previous call).
    virtual void advance(uint64_t elapsedUs) = 0;
    virtual void startAcquisition() = 0;
    virtual void stopAcquisition() = 0;
    virtual bool acquiring() const = 0;
    virtual uint32_t count(uint32_t channel) const = 0;
    virtual void setCount(uint32_t channel, uint32_t value) = 0;

    // The model's control command (words split on spaces); false when the
    // command is not the model's, also when the model declines a line of a
    // word the simulator has too. reply gets "ok ..." or "err ...".
    virtual bool control(const std::vector<std::string>& words, std::string& reply) = 0;
    // One line per control command of the model, for help texts.
    virtual std::string controlHelp() const = 0;
};

// A model by its name in the family table's simulator column ("korv");
// null for a name no family has.
std::unique_ptr<InstrumentModel> CreateModel(const std::string& name);
// The rate the named model's instrument runs at when nothing else is said;
// 0 for one that follows whatever rate the driver sets.
uint32_t OwnBaud(const std::string& name);
// The model names of the family table, in its order.
std::vector<std::string> ModelNames();
// The same, separated by ", ".
std::string KnownFamilies();

}  // namespace sim
}  // namespace linkbay
