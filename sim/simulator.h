// One simulated instrument on one pseudo-terminal: serves requests on its own
// thread, paces its replies at the line's speed, applies planned faults, logs
// the wire, and takes control commands from tests and other processes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/fault_plan.h"
#include "sim/instrument_model.h"
#include "sim/pty_endpoint.h"
#include "sim/wire_log.h"

namespace linkbay {
namespace sim {

struct SimulatorOptions {
    std::string linkPath;       // symlink to the device, re-pointed when the line returns
    bool pacing = true;         // replies take their wire time
    uint32_t instrumentBaud = 0;  // 0: follow whatever rate the driver sets
    double timeScale = 1.0;     // acquisition time per real time
    bool manualClock = false;   // acquisition time passes only through advanceClock
    size_t wireLogEntries = WireLog::kDefaultCapacity;  // the wire log keeps the last this many
};

class Simulator {
public:
    explicit Simulator(std::unique_ptr<InstrumentModel> model, SimulatorOptions options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool start(std::string& error);
    void stop();

    std::string devicePath() const;
    const std::string& linkPath() const { return m_options.linkPath; }
    WireLog& wireLog() { return m_wireLog; }
    // Exchanges served so far; the next one has this number plus 1.
    uint64_t exchanges() const { return m_exchanges.load(); }
    // A control client may plan faults without end; the plan stays bounded.
    static constexpr size_t kMaxPlannedFaults = 10000;
    // Plans the fault on count exchanges from the one given (0: the next).
    // Returns the first exchange number planned, 0 when the plan is full.
    uint64_t planFault(uint64_t exchange, Fault fault, uint32_t count = 1);
    void clearFaults() { m_faults.clear(); }
    // The line drops now (between exchanges) and returns after the delay.
    void hangUp(uint32_t returnAfterMs);
    // Number of times the line has come back after a hang-up.
    uint64_t returns() const { return m_returns.load(); }

    void setPacing(bool on) { m_pacing = on; }
    void setInstrumentBaud(uint32_t baud) { m_instrumentBaud = baud; }
    // Rate replies are paced at: the instrument's, else the line's; 0: unpaced.
    uint32_t pacingBaud() const;
    // Rate the driver set on its side of the line.
    uint32_t lineBaud() const;

    void setManualClock(bool manual);
    void advanceClock(uint64_t ms);

    // Runs f on the model with the acquisition brought up to date.
    template <typename F>
    auto withModel(F f) -> decltype(f(std::declval<InstrumentModel&>())) {
        std::lock_guard<std::mutex> lock(m_modelMutex);
        syncClockLocked();
        return f(*m_model);
    }

    // One line of the control protocol; returns the reply: data lines starting
    // with "+ ", then a last line "ok ..." or "err ...", each ended by "\n".
    std::string control(const std::string& line);
    bool quitRequested() const { return m_quit.load(); }
    void requestQuit() { m_quit = true; }
    // The help of the simulator-wide control commands, one or more lines each.
    static std::string ControlHelp();

private:
    void serve();
    void readAvailable(std::string& pending);
    void runExchange(const std::string& request);
    bool send(const std::string& bytes);
    bool writeChunk(const char* bytes, size_t count);
    bool waitUntil(std::chrono::steady_clock::time_point when);
    // Waits until the time given or until a request comes in; false when
    // stopped or hung up meanwhile.
    bool pauseUnlessInput(std::chrono::steady_clock::time_point until);
    bool inputWaiting() const;
    void dropLine(uint32_t returnAfterMs);
    bool reopenLine();
    void wake();
    void syncClockLocked();

    std::unique_ptr<InstrumentModel> m_model;
    SimulatorOptions m_options;
    PtyEndpoint m_endpoint;
    mutable std::mutex m_endpointMutex;  // guards the device path while the line returns
    std::string m_devicePath;
    WireLog m_wireLog;
    FaultPlan m_faults;

    std::mutex m_modelMutex;
    std::chrono::steady_clock::time_point m_clockOrigin;
    uint64_t m_clockSeenUs = 0;
    bool m_manualClock = false;

    std::atomic<bool> m_pacing{true};
    std::atomic<uint32_t> m_instrumentBaud{0};
    std::atomic<uint64_t> m_exchanges{0};
    std::atomic<uint64_t> m_returns{0};
    std::atomic<int64_t> m_hangUpRequestMs{-1};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_quit{false};

    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    int m_wakePipe[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace sim
}  // namespace linkbay
