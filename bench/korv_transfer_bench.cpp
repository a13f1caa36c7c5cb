// How close a full spectrum read through KORVCI comes to the line's own
// speed: a paced simulated instrument sends a 4096-channel spectrum in 4
// bytes a channel, and the measured read time is set against the time the
// bytes the instrument actually sent take on the wire (10 bits a byte).
//
// Usage: linkbay_korv_transfer_bench [reads at 115200 baud] [reads at 9600 baud]
// (defaults 3 and 1; one read at 9600 baud takes some 17 s).

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

#include "drivers/korv/korvci.h"
#include "sim/simulator.h"

namespace {

using linkbay::KORVCI;
using linkbay::sim::Simulator;
using linkbay::sim::WireDirection;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 1;
constexpr int32_t kMcb = 96 + kPort;
constexpr double kTarget = 1.02;
// Longer than the driver's shared cache, so that every read is a transfer.
constexpr auto kCacheExpiry = std::chrono::milliseconds(520);

struct Sample {
    double dSeconds;
    size_t nBytes;
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
void FillSpectrum(Simulator& simulator) {
    simulator.withModel([](linkbay::sim::InstrumentModel& model) {
        for (uint32_t c = 0; c < linkbay::kKorvChannels; ++c) model.setCount(c, 0x01000000u + c * 977u);
        return 0;
    });
    simulator.control("width 4");
}

bool ReadOnce(KORVCI& driver, Simulator& simulator, std::vector<uint32_t>& data, Sample& sample) {
    std::this_thread::sleep_for(kCacheExpiry);
    const uint64_t nMark = simulator.wireLog().nextSequence();
    const auto begin = Clock::now();
    const int32_t nResult = driver.ReadData(1, 0, 0, linkbay::kKorvChannels, data.data());
    sample.dSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    sample.nBytes = simulator.wireLog().bytesSince(nMark, WireDirection::kOut).size();
    return nResult == 1;
}

bool Measure(uint32_t nBaud, int nReads) {
    const PrivateEnvironment environment(nBaud);
    if (!environment.ready()) {
        std::fprintf(stderr, "cannot prepare a private environment\n");
        return false;
    }
    linkbay::sim::SimulatorOptions options;
    options.instrumentBaud = nBaud;
    options.manualClock = true;  // the spectrum stays as filled
    Simulator simulator(linkbay::sim::CreateModel("korv"), options);
    std::string sError;
    if (!simulator.start(sError)) {
        std::fprintf(stderr, "simulator: %s\n", sError.c_str());
        return false;
    }
    setenv("LINKBAY_COM1", simulator.devicePath().c_str(), 1);
    FillSpectrum(simulator);
    KORVCI driver(kMcb);
    driver.Attach(linkbay::RS232CI::COMOpen(kPort));
    if (!driver.IsUnitPresent(1)) {
        std::fprintf(stderr, "%u baud: the driver did not attach\n", nBaud);
        return false;
    }
    std::vector<uint32_t> data(linkbay::kKorvChannels);
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
        std::printf("%6u baud  read %d  %zu bytes  wire %.4f s  measured %.4f s  ratio %.4f\n", nBaud, i + 1,
                    sample.nBytes, dWire, sample.dSeconds, dRatio);
    }
    std::printf("%6u baud  worst ratio %.4f (target at most %.2f: %s)\n", nBaud, dWorst, kTarget,
                dWorst <= kTarget ? "met" : "NOT met");
    std::fflush(stdout);
    return true;
}

int ReadCount(int argc, char** argv, int nIndex, int nDefault) {
    if (argc <= nIndex) return nDefault;
    const int n = std::atoi(argv[nIndex]);
    return n > 0 && n <= 100 ? n : nDefault;
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("KORV spectrum read, 4096 channels x 4 bytes, through KORVCI from a paced instrument\n");
    const bool bFast = Measure(115200, ReadCount(argc, argv, 1, 3));
    const bool bSlow = Measure(9600, ReadCount(argc, argv, 2, 1));
    return bFast && bSlow ? 0 : 1;
}
