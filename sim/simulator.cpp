#include "sim/simulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "sim/control_words.h"
#include "sim/pseudo_terminal.h"

namespace linkbay {
namespace sim {

namespace {
constexpr uint32_t kDefaultShortDivisor = 2;
constexpr uint32_t kDefaultStallMs = 1500;
constexpr uint32_t kDefaultGarbageBytes = 24;
constexpr uint32_t kDefaultReturnMs = 500;
// A reader that takes nothing for this long has gone; the rest of the reply
// is dropped rather than blocking the instrument for ever.
constexpr int kWriteGiveUpMs = 5000;
// Pacing writes a few milliseconds of the line at a time.
constexpr uint32_t kChunkMs = 2;

std::string GarbageBytes(uint32_t count) {
    static const char kPattern[] = "#%&*+-/<=>@^_~";
    std::string bytes;
    for (uint32_t i = 0; i < count; ++i) bytes += kPattern[i % (sizeof kPattern - 1)];
    return bytes;
}
}  // namespace

Simulator::Simulator(std::unique_ptr<InstrumentModel> model, SimulatorOptions options)
    : m_model(std::move(model)),
      m_options(std::move(options)),
      m_wireLog(m_options.wireLogEntries),
      m_clockOrigin(std::chrono::steady_clock::now()),
      m_manualClock(m_options.manualClock),
      m_pacing(m_options.pacing),
      m_instrumentBaud(m_options.instrumentBaud) {}

Simulator::~Simulator() { stop(); }

bool Simulator::start(std::string& error) {
    if (m_thread.joinable()) return true;
    if (!m_model) {
        error = "no instrument model";
        return false;
    }
    if (pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = "cannot create the wake-up pipe";
        return false;
    }
    if (!m_endpoint.open(m_options.linkPath, error)) return false;
    {
        std::lock_guard<std::mutex> lock(m_endpointMutex);
        m_devicePath = m_endpoint.devicePath();
    }
    m_stop = false;
    m_thread = std::thread(&Simulator::serve, this);
    return true;
}

void Simulator::stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        wake();
        m_thread.join();
    }
    m_endpoint.close();
    for (int& fd : m_wakePipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

std::string Simulator::devicePath() const {
    std::lock_guard<std::mutex> lock(m_endpointMutex);
    return m_devicePath;
}

uint64_t Simulator::planFault(uint64_t exchange, Fault fault, uint32_t count) {
    if (m_faults.pending() + count > kMaxPlannedFaults) return 0;
    if (exchange == 0) exchange = m_exchanges.load() + 1;
    for (uint32_t i = 0; i < count; ++i) m_faults.plan(exchange + i, fault);
    return exchange;
}

void Simulator::hangUp(uint32_t returnAfterMs) {
    m_hangUpRequestMs = returnAfterMs;
    wake();
}

uint32_t Simulator::pacingBaud() const {
    if (!m_pacing) return 0;
    const uint32_t instrument = m_instrumentBaud.load();
    return instrument != 0 ? instrument : lineBaud();
}

uint32_t Simulator::lineBaud() const {
    std::lock_guard<std::mutex> lock(m_endpointMutex);
    return m_endpoint.lineBaud();
}

void Simulator::setManualClock(bool manual) {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    syncClockLocked();
    m_manualClock = manual;
}

void Simulator::advanceClock(uint64_t ms) {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    syncClockLocked();
    m_model->advance(ms * 1000);
}

// Real time passes into the model only while the clock is not manual; a
// switch between the two modes never replays the time spent in the other.
void Simulator::syncClockLocked() {
    const auto real = std::chrono::steady_clock::now() - m_clockOrigin;
    const double scaled = std::chrono::duration<double, std::micro>(real).count() * m_options.timeScale;
    const uint64_t nowUs = static_cast<uint64_t>(scaled);
    const uint64_t elapsed = nowUs > m_clockSeenUs ? nowUs - m_clockSeenUs : 0;
    m_clockSeenUs = nowUs;
    if (!m_manualClock) m_model->advance(elapsed);
}

void Simulator::wake() {
    if (m_wakePipe[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = ::write(m_wakePipe[1], &byte, 1);
        (void)ignored;
    }
    m_wakeCondition.notify_all();
}

void Simulator::serve() {
    std::string pending;
    while (!m_stop) {
        const int64_t hangUpMs = m_hangUpRequestMs.exchange(-1);
        if (hangUpMs >= 0) {
            dropLine(static_cast<uint32_t>(hangUpMs));
            pending.clear();
            continue;
        }
        pollfd fds[2] = {{m_endpoint.masterFd(), POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) readAvailable(pending);
        size_t length = 0;
        while (!m_stop && m_hangUpRequestMs.load() < 0 &&
               (length = m_model->requestLength(pending.data(), pending.size())) > 0) {
            const std::string request = pending.substr(0, length);
            pending.erase(0, length);
            const uint64_t returnsBefore = m_returns.load();
            runExchange(request);
            // Bytes sent before the line dropped went nowhere.
            if (m_returns.load() != returnsBefore || !m_endpoint.isOpen()) pending.clear();
        }
    }
}

void Simulator::readAvailable(std::string& pending) {
    char buffer[4096];
    const ssize_t count = ::read(m_endpoint.masterFd(), buffer, sizeof buffer);
    if (count > 0) {
        m_wireLog.record(WireDirection::kIn, buffer, static_cast<size_t>(count));
        pending.append(buffer, static_cast<size_t>(count));
    } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
        // The device side reports trouble; do not spin on it.
        waitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
    }
}

void Simulator::runExchange(const std::string& request) {
    const uint64_t number = ++m_exchanges;
    const Fault fault = m_faults.take(number);
    const uint32_t instrumentBaud = m_instrumentBaud.load();
    if (instrumentBaud != 0 && fault.kind == FaultKind::kNone) {
        const uint32_t driverBaud = m_endpoint.lineBaud();
        if (driverBaud != instrumentBaud) {
            // At the wrong speed the instrument hears only noise.
            m_wireLog.recordEvent("line at " + std::to_string(driverBaud) + " baud, instrument at " +
                                  std::to_string(instrumentBaud) + ": not understood");
            return;
        }
    }
    if (fault.kind != FaultKind::kNone) {
        m_wireLog.recordEvent(std::string("fault ") + FaultKindName(fault.kind) + " on exchange " +
                              std::to_string(number));
    }
    if (fault.kind == FaultKind::kHangUp) {
        dropLine(fault.amount ? fault.amount : kDefaultReturnMs);
        return;
    }
    std::string reply;
    {
        std::lock_guard<std::mutex> lock(m_modelMutex);
        syncClockLocked();
        // A rejected request is not carried out; every other fault only
        // spoils the reply of a request the instrument did carry out.
        reply = fault.kind == FaultKind::kReject ? m_model->rejection(request) : m_model->answer(request);
    }
    switch (fault.kind) {
    case FaultKind::kNone:
    case FaultKind::kReject: send(reply); break;
    case FaultKind::kSilence: break;
    case FaultKind::kShort: {
        size_t keep = fault.amount ? fault.amount : reply.size() / kDefaultShortDivisor;
        if (keep >= reply.size() && !reply.empty()) keep = reply.size() - 1;
        send(reply.substr(0, keep));
        break;
    }
    case FaultKind::kStall: {
        const size_t split = reply.size() / 2;
        if (!send(reply.substr(0, split))) break;
        // A new request during the pause interrupts the reply, as the driver
        // retrying would expect from an instrument that restarts on input.
        if (!pauseUnlessInput(std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(fault.amount ? fault.amount : kDefaultStallMs)))
            break;
        if (inputWaiting()) {
            m_wireLog.recordEvent("stalled reply interrupted by new input");
        } else {
            send(reply.substr(split));
        }
        break;
    }
    case FaultKind::kGarbage: send(GarbageBytes(fault.amount ? fault.amount : kDefaultGarbageBytes)); break;
    case FaultKind::kReply: send(fault.bytes); break;
    case FaultKind::kHangUp: break;
    }
}

bool Simulator::inputWaiting() const { return BytesWaiting(m_endpoint.masterFd()) > 0; }

// Each chunk is written when its last byte would have left a real line, so
// the reader never gets a byte earlier than the wire would deliver it.
bool Simulator::send(const std::string& bytes) {
    const uint32_t baud = pacingBaud();
    if (baud == 0) return writeChunk(bytes.data(), bytes.size());
    const double usPerByte = 10.0 * 1e6 / baud;
    const size_t chunk = std::max<size_t>(1, static_cast<size_t>(kChunkMs * 1000.0 / usPerByte));
    const auto begin = std::chrono::steady_clock::now();
    for (size_t done = 0; done < bytes.size();) {
        const size_t count = std::min(chunk, bytes.size() - done);
        const auto due = begin + std::chrono::microseconds(static_cast<int64_t>((done + count) * usPerByte));
        if (!waitUntil(due)) return false;
        if (!writeChunk(bytes.data() + done, count)) return false;
        done += count;
    }
    return true;
}

bool Simulator::writeChunk(const char* bytes, size_t count) {
    size_t written = 0;
    const WriteEnd end = WriteAsTaken(m_endpoint.masterFd(), bytes, count, kWriteGiveUpMs, written,
                                      [this] { return m_stop.load() || !m_endpoint.isOpen(); });
    m_wireLog.record(WireDirection::kOut, bytes, written);
    if (end == WriteEnd::kIdle) m_wireLog.recordEvent("reader took nothing for 5 s: rest of the reply dropped");
    return end == WriteEnd::kDone;
}

// Sleeps until the time given; false when the simulator is stopping or the
// line is to drop, so that long transfers end promptly.
bool Simulator::pauseUnlessInput(std::chrono::steady_clock::time_point until) {
    constexpr auto kLook = std::chrono::milliseconds(5);
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now()) {
        if (inputWaiting()) return true;
        if (!waitUntil(std::min(until, now + kLook))) return false;
    }
    return true;
}

bool Simulator::waitUntil(std::chrono::steady_clock::time_point when) {
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wakeCondition.wait_until(lock, when, [this] { return m_stop.load() || m_hangUpRequestMs.load() >= 0; });
    return !m_stop && m_hangUpRequestMs.load() < 0;
}

void Simulator::dropLine(uint32_t returnAfterMs) {
    {
        std::lock_guard<std::mutex> lock(m_endpointMutex);
        m_endpoint.close();
    }
    m_wireLog.recordEvent("hangup");
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wakeCondition.wait_for(lock, std::chrono::milliseconds(returnAfterMs), [this] { return m_stop.load(); });
    lock.unlock();
    while (!m_stop && !reopenLine()) {
        std::unique_lock<std::mutex> retryLock(m_wakeMutex);
        m_wakeCondition.wait_for(retryLock, std::chrono::milliseconds(200), [this] { return m_stop.load(); });
    }
}

bool Simulator::reopenLine() {
    std::string error;
    std::lock_guard<std::mutex> lock(m_endpointMutex);
    if (!m_endpoint.open(m_options.linkPath, error)) {
        m_wireLog.recordEvent("line cannot return: " + error);
        return false;
    }
    m_devicePath = m_endpoint.devicePath();
    m_wireLog.recordEvent("return " + m_devicePath);
    ++m_returns;
    return true;
}

}  // namespace sim
}  // namespace linkbay
