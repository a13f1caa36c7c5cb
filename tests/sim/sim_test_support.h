// The driver's side of a simulated line in tests: a port opened through the
// platform layer, as drivers open theirs, and a control-protocol client.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/platform.h"
#include "sim/instrument_model.h"
#include "sim/simulator.h"
#include "support/control_client.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {

struct PortTimeouts {
    DWORD intervalMs;
    DWORD totalConstantMs;
};
// What the instrument drivers use, and a quick variant for tests that only
// need to see that nothing (more) arrives.
constexpr PortTimeouts kDriverTimeouts{1000, 2000};
constexpr PortTimeouts kQuickTimeouts{50, 2000};

class DriverPort {
public:
    // Opens COM1 on the device given, at the rate given, 8N1.
    bool open(const std::string& device, DWORD baud, PortTimeouts timeouts = kQuickTimeouts) {
        close();
        setenv("LINKBAY_COM1", device.c_str(), 1);
        m_handle = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(m_handle, &dcb)) return false;
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        return SetCommState(m_handle, &dcb) && setTimeouts(timeouts);
    }
    bool setTimeouts(PortTimeouts timeouts) {
        COMMTIMEOUTS settings{timeouts.intervalMs, 0, timeouts.totalConstantMs, 0, 5000};
        return SetCommTimeouts(m_handle, &settings) != 0;
    }
    void close() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
    ~DriverPort() { close(); }

    bool write(const std::string& bytes) {
        DWORD written = 0;
        return WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }
    // Reads up to max bytes with the port's time-outs; false when ReadFile fails.
    bool read(size_t max, std::string& bytes) {
        bytes.assign(max, '\0');
        DWORD got = 0;
        const BOOL ok = ReadFile(m_handle, &bytes[0], static_cast<DWORD>(max), &got, nullptr);
        bytes.resize(ok ? got : 0);
        return ok != 0;
    }
    // Sends a request and returns whatever arrives until the line goes quiet.
    std::string exchange(const std::string& request, size_t max = 256) {
        std::string reply;
        if (!write(request) || !read(max, reply)) return "<read failed>";
        return reply;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// A KORV simulator on its own thread, unpaced and on a manual clock unless told otherwise.
inline std::unique_ptr<sim::Simulator> StartKorv(sim::SimulatorOptions options = {}) {
    if (options.timeScale == 1.0 && !options.manualClock) options.manualClock = true;
    auto simulator = std::make_unique<sim::Simulator>(sim::CreateModel("korv"), options);
    std::string error;
    EXPECT_TRUE(simulator->start(error)) << error;
    return simulator;
}
inline sim::SimulatorOptions Unpaced() {
    sim::SimulatorOptions options;
    options.pacing = false;
    options.manualClock = true;
    return options;
}

}  // namespace test
}  // namespace linkbay
