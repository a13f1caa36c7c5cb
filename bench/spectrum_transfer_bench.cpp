// How close a full spectrum read through a family's driver comes to the
// line's own speed: a paced simulated instrument holds a 4096-channel
// spectrum of large counts, and the measured read time is set against the
// time the bytes the instrument actually sent take on the wire (10 bits a
// byte): KORV sends the spectrum in one transfer of 4 bytes a channel, ZEPH
// in 128 replies of 136 bytes, each to a 12-byte request, TAVO (as PELLUX)
// in 32 replies of 514 bytes. The simulator
// paces only what it sends; the requests cross the pseudo-terminal at once,
// so their wire time is in neither figure.
//
// Usage: linkbay_spectrum_transfer_bench [reads per line speed] (default 3;
// KORV at 9600 baud is read once, some 17 s).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "drivers/family_registry.h"
#include "serial/rs232ci.h"
#include "sim/simulator.h"

namespace {

using linkbay::RS232CI;
using linkbay::sim::Simulator;
using linkbay::sim::WireDirection;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 1;
constexpr int32_t kMcb = 96 + kPort;
constexpr int32_t kChannels = 4096;
constexpr double kTarget = 1.02;
// Longer than the driver's shared cache, so that every read is a transfer.
constexpr auto kCacheExpiry = std::chrono::milliseconds(520);

struct Sample {
    double dSeconds;
    size_t nBytes;
};

// One line speed of one family.
struct Line {
    int32_t nDeviceType;
    uint32_t nBaud;
    const char* pszSetup;  // a control command that makes every count travel in full, or nullptr
    bool bOnce;            // slow enough that one read tells
};

const Line kLines[] = {
    {LINKBAY_DEVICE_KORV, 115200, "width 4", false},
    {LINKBAY_DEVICE_KORV, 9600, "width 4", true},
    {LINKBAY_DEVICE_ZEPH, 38400, nullptr, false},
    {LINKBAY_DEVICE_TAVO, 38400, nullptr, false},
};

// Each measurement gets its own shared objects and profile directory,
// removed again when it ends.
class PrivateEnvironment {
public:
    explicit PrivateEnvironment(uint32_t nBaud) {
        const std::string sTag = "bench" + std::to_string(getpid()) + "_" + std::to_string(nBaud);
        setenv("LINKBAY_IPC_NAMESPACE", sTag.c_str(), 1);
        std::string sDir = "/tmp/linkbay-" + sTag + "-XXXXXX";
        if (mkdtemp(&sDir[0]) == nullptr) return;
        m_sDir = sDir;
        setenv("LINKBAY_WINDIR", sDir.c_str(), 1);
        m_bReady = WritePrivateProfileStringA("CONFIG", "BaudRate", std::to_string(nBaud).c_str(), "DETHUB.INI") != 0;
    }
    ~PrivateEnvironment() {
        std::error_code ignored;
        if (!m_sDir.empty()) std::filesystem::remove_all(m_sDir, ignored);
    }
    bool ready() const { return m_bReady; }

private:
    std::string m_sDir;
    bool m_bReady = false;
};

// Counts large enough to need all four bytes of every channel.
void FillSpectrum(Simulator& simulator, const char* pszSetup) {
    simulator.withModel([](linkbay::sim::InstrumentModel& model) {
        for (uint32_t c = 0; c < kChannels; ++c) model.setCount(c, 0x01000000u + c * 977u);
        return 0;
    });
    if (pszSetup != nullptr) simulator.control(pszSetup);
}

bool ReadOnce(RS232CI& driver, Simulator& simulator, std::vector<uint32_t>& data, Sample& sample) {
    std::this_thread::sleep_for(kCacheExpiry);
    const uint64_t nMark = simulator.wireLog().nextSequence();
    const auto begin = Clock::now();
    const int32_t nResult = driver.ReadData(1, 0, 0, kChannels, data.data());
    sample.dSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    sample.nBytes = simulator.wireLog().bytesSince(nMark, WireDirection::kOut).size();
    return nResult == 1;
}

bool Measure(const Line& line, int nReads) {
    const uint32_t nBaud = line.nBaud;
    const LinkbayFamily& family = *LinkbayFindFamily(line.nDeviceType);
    const PrivateEnvironment environment(nBaud);
    if (!environment.ready()) {
        std::fprintf(stderr, "cannot prepare a private environment\n");
        return false;
    }
    linkbay::sim::SimulatorOptions options;
    options.instrumentBaud = nBaud;
    options.manualClock = true;  // the spectrum stays as filled
    Simulator simulator(linkbay::sim::CreateModel(family.pszSimModel), options);
    std::string sError;
    if (!simulator.start(sError)) {
        std::fprintf(stderr, "simulator: %s\n", sError.c_str());
        return false;
    }
    setenv("LINKBAY_COM1", simulator.devicePath().c_str(), 1);
    FillSpectrum(simulator, line.pszSetup);
    std::unique_ptr<RS232CI> pDriver(linkbay::FindFamilyDriver(line.nDeviceType)->pfnCreate(kMcb));
    RS232CI& driver = *pDriver;
    driver.Attach(RS232CI::COMOpen(kPort));
    if (!driver.IsUnitPresent(1)) {
        std::fprintf(stderr, "%s at %u baud: the driver did not attach\n", family.pszDisplayName, nBaud);
        return false;
    }
    std::vector<uint32_t> data(kChannels);
    Sample sample{};
    // The first read also loads the ROI table; only later reads are timed.
    if (!ReadOnce(driver, simulator, data, sample)) {
        std::fprintf(stderr, "%u baud: the first read failed\n", nBaud);
        return false;
    }
    double dWorst = 0;
    for (int i = 0; i < nReads; ++i) {
        if (!ReadOnce(driver, simulator, data, sample)) {
            std::fprintf(stderr, "%u baud: read %d failed\n", nBaud, i + 1);
            return false;
        }
        const double dWire = static_cast<double>(sample.nBytes) * 10.0 / nBaud;
        const double dRatio = sample.dSeconds / dWire;
        dWorst = std::max(dWorst, dRatio);
        std::printf("%-5s %6u baud  read %d  %zu bytes  wire %.4f s  measured %.4f s  ratio %.4f\n",
                    family.pszDisplayName, nBaud, i + 1, sample.nBytes, dWire, sample.dSeconds, dRatio);
    }
    std::printf("%-5s %6u baud  worst ratio %.4f (target at most %.2f: %s)\n", family.pszDisplayName, nBaud, dWorst,
                kTarget, dWorst <= kTarget ? "met" : "NOT met");
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int nReads = argc > 1 && std::atoi(argv[1]) > 0 && std::atoi(argv[1]) <= 100 ? std::atoi(argv[1]) : 3;
    std::printf("4096-channel spectrum reads through each family's driver from a paced instrument\n");
    bool bAll = true;
    for (const Line& line : kLines) bAll = Measure(line, line.bOnce ? 1 : nReads) && bAll;
    return bAll ? 0 : 1;
}
