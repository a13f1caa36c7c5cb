// What one short exchange costs through the add-in: SHOW_ACTIVE on MCB 97
// detector 1 (the driver sends "67\r" and reads the reply line) against an
// unpaced simulated KORV instrument, set against the same device exchange
// done by a bare POSIX loop and by pyserial on the same pty, same simulator.
//
// The three take turns in rounds. The add-in opens its port exclusively, so
// each round gives the port to one of them alone: the add-in is Opened
// before its turn and Closed after it, the bare loop and the pyserial script
// open and close the device around theirs; none of that is timed. The order
// within a round rotates so that no contender always follows another.
//
// Beside each round trip it reports the CPU time the client itself spent on
// an exchange (its thread's clock): on a busy machine the round trip is
// mostly waiting for a core, while the CPU time still shows each client's
// own cost.
//
// Usage: linkbay_korv_roundtrip_bench [--rounds R] [--exchanges N] [--only NAME]
//                                     [--library PATH] [--baseline PATH]
//   R rounds (default 50) of N exchanges (default 20) per contender;
//   --only add-in|bare|pyserial runs one contender alone (for strace or a profiler);
//   --library loads another build of the add-in (default: the one built beside);
//   --baseline also measures a second build in the same rounds, to set a change
//   against what it replaced.
// LINKBAY_PYTHON names the interpreter that has pyserial (default /usr/bin/python3).

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <termios.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <spawn.h>

#include "library_loader.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

constexpr int32_t kMcb = 97;  // COM1
constexpr int32_t kDetector = 1;
constexpr char kRequest[] = "67\r";
constexpr char kReplyStart[] = "67 ";
constexpr double kBareTarget = 1.2;
constexpr double kPyserialTarget = 1.0;

// A KORV on COM1.
bool WriteConfiguration(const std::string& sDir) {
    std::ofstream ini(sDir + "/DETHUB.INI", std::ios::binary);
    ini << "[CONFIG]\r\nCOM1=KORV\r\n";
    return static_cast<bool>(ini);
}

// A private IPC namespace and Windows directory, removed at the end.
struct Directory {
    std::string sPath;
    Directory() {
        const std::string sTag = "bench" + std::to_string(getpid());
        setenv("LINKBAY_IPC_NAMESPACE", sTag.c_str(), 1);
        std::string sTemplate = (std::filesystem::temp_directory_path() / ("linkbay-" + sTag + "-XXXXXX")).string();
        if (mkdtemp(&sTemplate[0]) == nullptr) return;
        sPath = sTemplate;
        setenv("LINKBAY_WINDIR", sPath.c_str(), 1);
    }
    ~Directory() {
        std::error_code ignored;
        if (!sPath.empty()) std::filesystem::remove_all(sPath, ignored);
    }
};

linkbay::sim::SimulatorOptions Unpaced(const std::string& sLink) {
    linkbay::sim::SimulatorOptions options;
    options.linkPath = sLink;
    options.pacing = false;
    return options;
}

// That configuration, and an unpaced simulated KORV behind COM1, served by
// a thread of this process.
struct Bench {
    Directory directory;  // removed after the simulator has gone
    bool bConfigured = !directory.sPath.empty() && WriteConfiguration(directory.sPath);
    linkbay::sim::Simulator simulator{linkbay::sim::CreateModel("korv"), Unpaced(directory.sPath + "/com1")};
    std::string sProblem;
    bool start() {
        if (!bConfigured || !simulator.start(sProblem)) return false;
        setenv("LINKBAY_COM1", simulator.linkPath().c_str(), 1);
        return true;
    }
};

// The pyserial script, fed and read through pipes; it ends when its input closes.
class PythonPeer {
public:
    ~PythonPeer() {
        if (m_pIn != nullptr) fclose(m_pIn);
        if (m_pOut != nullptr) fclose(m_pOut);
        int nStatus = 0;
        if (m_pid > 0) waitpid(m_pid, &nStatus, 0);
    }
    bool start(const std::string& sPython, const std::string& sDevice) {
        int toChild[2];
        int fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        std::string sScript = LINKBAY_PYSERIAL_SCRIPT;
        std::string sInterpreter = sPython;
        std::string sPort = sDevice;
        char* argv[] = {&sInterpreter[0], &sScript[0], &sPort[0], nullptr};
        const int nSpawn = posix_spawn(&m_pid, sPython.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        m_pIn = fdopen(toChild[1], "w");
        m_pOut = fdopen(fromChild[0], "r");
        if (nSpawn != 0) m_pid = -1;
        return nSpawn == 0 && m_pIn != nullptr && m_pOut != nullptr;
    }
    bool writeLine(const std::string& sLine) {
        return std::fprintf(m_pIn, "%s\n", sLine.c_str()) > 0 && std::fflush(m_pIn) == 0;
    }
    std::string readLine() {
        char szLine[256];
        if (std::fgets(szLine, sizeof szLine, m_pOut) == nullptr) return std::string();
        std::string sLine = szLine;
        if (!sLine.empty() && sLine.back() == '\n') sLine.pop_back();
        return sLine;
    }

private:
    pid_t m_pid = -1;
    FILE* m_pIn = nullptr;
    FILE* m_pOut = nullptr;
};

// ---- contenders -------------------------------------------------------------

struct Sample {
    double dWall = 0;  // seconds
    double dCpu = 0;   // seconds of the client's own thread
};

double ClockSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class Stopwatch {
public:
    Stopwatch() : m_dWall(ClockSeconds(CLOCK_MONOTONIC)), m_dCpu(ClockSeconds(CLOCK_THREAD_CPUTIME_ID)) {}
    Sample read() const {
        return {ClockSeconds(CLOCK_MONOTONIC) - m_dWall, ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - m_dCpu};
    }

private:
    double m_dWall;
    double m_dCpu;
};

struct Context {
    std::string sDevice;
    linkbay_host::AddinLibrary addin;
    linkbay_host::AddinLibrary baseline;  // loaded only with --baseline
    std::unique_ptr<PythonPeer> pPython;
};

bool Fail(const char* pszWhat, const std::string& sDetail = std::string()) {
    std::fprintf(stderr, "%s%s%s\n", pszWhat, sDetail.empty() ? "" : ": ", sDetail.c_str());
    return false;
}

bool AddinExchange(AddinBase& addin) {
    char szResponse[64];
    int32_t nLength = 0;
    int32_t nMac = -1;
    int32_t nMic = -1;
    const bool bServed =
        addin.Dialog(kMcb, kDetector, "SHOW_ACTIVE", sizeof szResponse, szResponse, &nLength, &nMac, &nMic);
    return bServed && nMac == 0 && nMic == 0 && nLength > 0;
}

bool RunAddinOf(linkbay_host::AddinLibrary& library, int nExchanges, Sample& sample) {
    AddinBase& addin = *library.addin();
    addin.Open();
    bool bOk = addin.IsValidDetector(kMcb, kDetector);
    const Stopwatch stopwatch;
    for (int i = 0; bOk && i < nExchanges; ++i) bOk = AddinExchange(addin);
    sample = stopwatch.read();
    addin.Close();
    return bOk || Fail("add-in: SHOW_ACTIVE failed");
}

bool RunAddin(Context& context, int nExchanges, Sample& sample) {
    return RunAddinOf(context.addin, nExchanges, sample);
}

// Both builds share the shared objects of one IPC namespace; each has the
// port only between its own Open and Close, like two hosts taking turns.
bool RunBaseline(Context& context, int nExchanges, Sample& sample) {
    return RunAddinOf(context.baseline, nExchanges, sample);
}

// Raw, blocking, and a read gives up after 1 s without a byte.
int OpenBareDevice(const std::string& sDevice) {
    const int fd = open(sDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 10;
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || tcflush(fd, TCIFLUSH) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool BareExchange(int fd) {
    if (write(fd, kRequest, sizeof kRequest - 1) != static_cast<ssize_t>(sizeof kRequest - 1)) return false;
    char reply[64];
    size_t cbReply = 0;
    while (cbReply < sizeof reply) {
        const ssize_t cb = read(fd, reply + cbReply, sizeof reply - cbReply);
        if (cb <= 0) return false;
        cbReply += static_cast<size_t>(cb);
        if (reply[cbReply - 1] == '\n') return std::memcmp(reply, kReplyStart, sizeof kReplyStart - 1) == 0;
    }
    return false;
}

bool RunBare(Context& context, int nExchanges, Sample& sample) {
    const int fd = OpenBareDevice(context.sDevice);
    if (fd < 0) return Fail("bare loop: cannot open", context.sDevice + ": " + std::strerror(errno));
    bool bOk = true;
    const Stopwatch stopwatch;
    for (int i = 0; bOk && i < nExchanges; ++i) bOk = BareExchange(fd);
    sample = stopwatch.read();
    close(fd);
    return bOk || Fail("bare loop: exchange failed");
}

// The script ends when its input closes, with the ChildProcess.
bool StartPython(Context& context) {
    const char* pszPython = std::getenv("LINKBAY_PYTHON");
    const std::string sPython = pszPython != nullptr && *pszPython != '\0' ? pszPython : "/usr/bin/python3";
    context.pPython = std::make_unique<PythonPeer>();
    return context.pPython->start(sPython, context.sDevice) && context.pPython->readLine() == "ready";
}

bool RunPyserial(Context& context, int nExchanges, Sample& sample) {
    if (!context.pPython->writeLine(std::to_string(nExchanges))) return Fail("pyserial: the script ended");
    const std::string sLine = context.pPython->readLine();
    long long nWallNs = 0;
    long long nCpuNs = 0;
    if (std::sscanf(sLine.c_str(), "ok %lld %lld", &nWallNs, &nCpuNs) != 2) return Fail("pyserial", sLine);
    sample = {static_cast<double>(nWallNs) * 1e-9, static_cast<double>(nCpuNs) * 1e-9};
    return true;
}

struct Contender {
    const char* pszName;
    bool (*pfnRun)(Context& context, int nExchanges, Sample& sample);
};

const Contender kContenders[] = {
    {"add-in", RunAddin},
    {"bare", RunBare},
    {"pyserial", RunPyserial},
    {"baseline", RunBaseline},
};
constexpr size_t kContenderCount = sizeof kContenders / sizeof kContenders[0];
constexpr size_t kAddin = 0;
constexpr size_t kBare = 1;
constexpr size_t kPyserial = 2;
constexpr size_t kBaseline = 3;

// ---- measurement --------------------------------------------------------------

struct Settings {
    int nRounds = 50;
    int nExchanges = 20;
    int nOnly = -1;  // index into kContenders, or -1 for all
    std::string sLibrary = LINKBAY_LIBRARY_PATH;
    std::string sBaseline;  // empty: no baseline build
};

bool Runs(const Settings& settings, size_t index) {
    if (index == kBaseline && settings.sBaseline.empty()) return false;
    return settings.nOnly < 0 || index == static_cast<size_t>(settings.nOnly);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Seconds an exchange, one entry a round, per contender.
struct Results {
    std::vector<double> wall[kContenderCount];
    std::vector<double> cpu[kContenderCount];
};

bool Measure(Context& context, const Settings& settings, Results& results) {
    for (int nRound = 0; nRound < settings.nRounds; ++nRound) {
        for (size_t k = 0; k < kContenderCount; ++k) {
            const size_t index = (k + static_cast<size_t>(nRound)) % kContenderCount;
            if (!Runs(settings, index)) continue;
            Sample sample;
            if (!kContenders[index].pfnRun(context, settings.nExchanges, sample)) return false;
            results.wall[index].push_back(sample.dWall / settings.nExchanges);
            results.cpu[index].push_back(sample.dCpu / settings.nExchanges);
        }
    }
    return true;
}

// Each round's own ratio: rounds that met a busy machine compare with each
// other, not with quiet ones.
double MedianRoundRatio(const std::vector<double>& numerators, const std::vector<double>& denominators) {
    std::vector<double> ratios;
    for (size_t i = 0; i < numerators.size() && i < denominators.size(); ++i)
        ratios.push_back(numerators[i] / denominators[i]);
    return Median(ratios);
}

// Judged by the median of the rounds' ratios; the ratio of the medians beside it.
void PrintRatio(const char* pszWhat, const std::vector<double>& numerators,
                const std::vector<double>& denominators, double dTarget, bool bTargetIncluded) {
    const double dRatio = MedianRoundRatio(numerators, denominators);
    const bool bMet = bTargetIncluded ? dRatio <= dTarget : dRatio < dTarget;
    std::printf("%-19s %.3f (ratio of the medians %.3f; target %s %.1f: %s)\n", pszWhat, dRatio,
                Median(numerators) / Median(denominators), bTargetIncluded ? "at most" : "below", dTarget,
                bMet ? "met" : "NOT met");
}

void Report(const Settings& settings, const Results& results) {
    std::printf("round trip, median of the rounds, us an exchange (client CPU of it):\n");
    for (size_t k = 0; k < kContenderCount; ++k) {
        const std::vector<double>& wall = results.wall[k];
        if (wall.empty()) continue;
        const auto [pMin, pMax] = std::minmax_element(wall.begin(), wall.end());
        std::printf("%-9s %8.1f us  (%.1f us CPU; rounds from %.1f to %.1f us)\n", kContenders[k].pszName,
                    Median(wall) * 1e6, Median(results.cpu[k]) * 1e6, *pMin * 1e6, *pMax * 1e6);
    }
    if (settings.nOnly >= 0) return;
    PrintRatio("add-in / bare loop", results.wall[kAddin], results.wall[kBare], kBareTarget, true);
    PrintRatio("add-in / pyserial", results.wall[kAddin], results.wall[kPyserial], kPyserialTarget, false);
    if (results.wall[kBaseline].empty()) return;
    std::printf("%-19s %.3f (CPU %.3f)\n", "add-in / baseline", MedianRoundRatio(results.wall[kAddin], results.wall[kBaseline]),
                MedianRoundRatio(results.cpu[kAddin], results.cpu[kBaseline]));
}

int ContenderIndex(const char* pszName) {
    for (size_t k = 0; k < kContenderCount; ++k)
        if (std::strcmp(kContenders[k].pszName, pszName) == 0) return static_cast<int>(k);
    return -1;
}

bool ParsePositive(const char* psz, int nMax, int& nValue) {
    char* pszEnd = nullptr;
    const long n = std::strtol(psz, &pszEnd, 10);
    if (*psz == '\0' || *pszEnd != '\0' || n < 1 || n > nMax) return false;
    nValue = static_cast<int>(n);
    return true;
}

bool ParseText(const char* psz, std::string& sValue) {
    if (*psz == '\0') return false;
    sValue = psz;
    return true;
}

bool ParseArguments(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; i += 2) {
        const std::string sOption = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : "";
        bool bOk = false;
        if (sOption == "--rounds") bOk = ParsePositive(pszValue, 100000, settings.nRounds);
        else if (sOption == "--exchanges") bOk = ParsePositive(pszValue, 1000000, settings.nExchanges);
        else if (sOption == "--only") bOk = (settings.nOnly = ContenderIndex(pszValue)) >= 0;
        else if (sOption == "--library") bOk = ParseText(pszValue, settings.sLibrary);
        else if (sOption == "--baseline") bOk = ParseText(pszValue, settings.sBaseline);
        if (!bOk) return Fail("usage: linkbay_korv_roundtrip_bench [--rounds R] [--exchanges N] "
                              "[--only add-in|bare|pyserial] [--library PATH] [--baseline PATH]");
    }
    return true;
}

bool Prepare(Context& context, const Settings& settings) {
    if (!context.addin.load(settings.sLibrary)) return Fail("add-in", context.addin.error());
    if (Runs(settings, kBaseline) && !context.baseline.load(settings.sBaseline))
        return Fail("baseline", context.baseline.error());
    if (Runs(settings, kPyserial) && !StartPython(context))
        return Fail("pyserial: the script did not start (Debian package python3-serial; LINKBAY_PYTHON)");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, settings)) return 2;
    std::signal(SIGPIPE, SIG_IGN);  // a script that ended shows as a failed write
    Bench bench;
    if (!bench.start()) {
        Fail("cannot set up the simulated instrument", bench.sProblem);
        return 1;
    }
    Context context;
    context.sDevice = std::getenv("LINKBAY_COM1");
    if (!Prepare(context, settings)) return 1;
    std::printf("SHOW_ACTIVE round trips against an unpaced KORV simulator on %s: %d rounds x %d exchanges\n",
                context.sDevice.c_str(), settings.nRounds, settings.nExchanges);
    Results results;
    if (!Measure(context, settings, results)) return 1;
    Report(settings, results);
    return 0;
}
