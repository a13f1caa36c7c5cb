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
// Usage: linkbay_korv_roundtrip_bench [--rounds R] [--exchanges N] [--only NAME] [--library PATH]
//   R rounds (default 20) of N exchanges (default 50) per contender;
//   --only add-in|bare|pyserial runs one contender alone (for strace or a profiler);
//   --library loads another build of the add-in (default: the one built beside).
// LINKBAY_PYTHON names the interpreter that has pyserial (default /usr/bin/python3).

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "library_loader.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kMcb = 97;  // COM1
constexpr int32_t kDetector = 1;
constexpr char kRequest[] = "67\r";
constexpr char kReplyStart[] = "67 ";
constexpr double kBareTarget = 1.2;
constexpr double kPyserialTarget = 1.0;

// ---- processes ------------------------------------------------------------

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    // Starts argv[0] with the given pipes as its stdin and stdout (-1: inherit).
    bool start(const std::vector<std::string>& args, int fdIn, int fdOut) {
        std::vector<char*> argv;
        for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (fdIn >= 0) posix_spawn_file_actions_adddup2(&actions, fdIn, STDIN_FILENO);
        if (fdOut >= 0) posix_spawn_file_actions_adddup2(&actions, fdOut, STDOUT_FILENO);
        const int err = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (err != 0) m_pid = -1;
        return err == 0;
    }
    void stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

// A private Windows directory with a DETHUB.INI that puts a KORV on COM1,
// and an IPC namespace of this run's own; removed again at the end.
class PrivateEnvironment {
public:
    PrivateEnvironment() {
        const std::string sTag = "roundtrip" + std::to_string(getpid());
        setenv("LINKBAY_IPC_NAMESPACE", sTag.c_str(), 1);
        std::string sDir = "/tmp/linkbay-" + sTag + "-XXXXXX";
        if (mkdtemp(&sDir[0]) == nullptr) return;
        m_sDir = sDir;
        setenv("LINKBAY_WINDIR", sDir.c_str(), 1);
        std::ofstream(sDir + "/DETHUB.INI", std::ios::binary) << "[CONFIG]\r\nCOM1=KORV\r\n";
    }
    ~PrivateEnvironment() {
        std::error_code ignored;
        if (!m_sDir.empty()) std::filesystem::remove_all(m_sDir, ignored);
    }
    const std::string& dir() const { return m_sDir; }

private:
    std::string m_sDir;
};

// `linkbay-sim korv --no-pacing`; its device path once it serves.
bool StartSimulator(ChildProcess& sim, const std::string& sDir, std::string& sDevice) {
    const std::string sReady = sDir + "/sim.ready";
    if (!sim.start({LINKBAY_SIM_PATH, "korv", "--no-pacing", "--quiet", "--ready-file", sReady}, -1, -1))
        return false;
    for (int nTry = 0; nTry < 1000; ++nTry) {
        std::ifstream ready(sReady);
        std::string sWord;
        while (ready >> sWord) {
            if (sWord == "device" && ready >> sDevice) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// ---- contenders -------------------------------------------------------------

struct Context {
    std::string sDevice;
    linkbay_host::AddinLibrary addin;
    ChildProcess python;
    FILE* pToPython = nullptr;
    FILE* pFromPython = nullptr;
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

bool RunAddin(Context& context, int nExchanges, double& dSeconds) {
    AddinBase& addin = *context.addin.addin();
    addin.Open();
    bool bOk = addin.IsValidDetector(kMcb, kDetector);
    const auto begin = Clock::now();
    for (int i = 0; bOk && i < nExchanges; ++i) bOk = AddinExchange(addin);
    dSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    addin.Close();
    return bOk || Fail("add-in: SHOW_ACTIVE failed");
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

bool RunBare(Context& context, int nExchanges, double& dSeconds) {
    const int fd = OpenBareDevice(context.sDevice);
    if (fd < 0) return Fail("bare loop: cannot open", context.sDevice + ": " + std::strerror(errno));
    bool bOk = true;
    const auto begin = Clock::now();
    for (int i = 0; bOk && i < nExchanges; ++i) bOk = BareExchange(fd);
    dSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    close(fd);
    return bOk || Fail("bare loop: exchange failed");
}

bool StartPython(Context& context) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return false;
    if (pipe2(fromChild, O_CLOEXEC) != 0) return false;
    const char* pszPython = std::getenv("LINKBAY_PYTHON");
    const std::string sPython = pszPython != nullptr && *pszPython != '\0' ? pszPython : "/usr/bin/python3";
    const bool bStarted = context.python.start({sPython, LINKBAY_PYSERIAL_SCRIPT, context.sDevice},
                                               toChild[0], fromChild[1]);
    close(toChild[0]);
    close(fromChild[1]);
    context.pToPython = fdopen(toChild[1], "w");
    context.pFromPython = fdopen(fromChild[0], "r");
    char szLine[128];
    return bStarted && context.pToPython != nullptr && context.pFromPython != nullptr &&
           std::fgets(szLine, sizeof szLine, context.pFromPython) != nullptr &&
           std::strncmp(szLine, "ready", 5) == 0;
}

bool RunPyserial(Context& context, int nExchanges, double& dSeconds) {
    std::fprintf(context.pToPython, "%d\n", nExchanges);
    std::fflush(context.pToPython);
    char szLine[256] = {};
    if (std::fgets(szLine, sizeof szLine, context.pFromPython) == nullptr)
        return Fail("pyserial: the script ended");
    long long nNanoseconds = 0;
    if (std::sscanf(szLine, "ok %lld", &nNanoseconds) != 1) return Fail("pyserial", szLine);
    dSeconds = static_cast<double>(nNanoseconds) * 1e-9;
    return true;
}

struct Contender {
    const char* pszName;
    bool (*pfnRun)(Context& context, int nExchanges, double& dSeconds);
};

const Contender kContenders[] = {
    {"add-in", RunAddin},
    {"bare", RunBare},
    {"pyserial", RunPyserial},
};
constexpr size_t kContenderCount = sizeof kContenders / sizeof kContenders[0];
constexpr size_t kAddin = 0;
constexpr size_t kBare = 1;
constexpr size_t kPyserial = 2;

// ---- measurement --------------------------------------------------------------

struct Settings {
    int nRounds = 20;
    int nExchanges = 50;
    int nOnly = -1;  // index into kContenders, or -1 for all
    std::string sLibrary = LINKBAY_LIBRARY_PATH;
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool Measure(Context& context, const Settings& settings, std::vector<double> (&perExchange)[kContenderCount]) {
    for (int nRound = 0; nRound < settings.nRounds; ++nRound) {
        for (size_t k = 0; k < kContenderCount; ++k) {
            const size_t index = (k + static_cast<size_t>(nRound)) % kContenderCount;
            if (settings.nOnly >= 0 && index != static_cast<size_t>(settings.nOnly)) continue;
            double dSeconds = 0;
            if (!kContenders[index].pfnRun(context, settings.nExchanges, dSeconds)) return false;
            perExchange[index].push_back(dSeconds / settings.nExchanges);
        }
    }
    return true;
}

void PrintRatio(const char* pszWhat, double dRatio, const char* pszTarget, bool bMet) {
    std::printf("%-20s %.3f (target %s: %s)\n", pszWhat, dRatio, pszTarget, bMet ? "met" : "NOT met");
}

void Report(const Settings& settings, const std::vector<double> (&perExchange)[kContenderCount]) {
    double dMedian[kContenderCount] = {};
    for (size_t k = 0; k < kContenderCount; ++k) {
        if (perExchange[k].empty()) continue;
        dMedian[k] = Median(perExchange[k]);
        const auto [pMin, pMax] = std::minmax_element(perExchange[k].begin(), perExchange[k].end());
        std::printf("%-9s median %8.1f us an exchange  (rounds from %.1f to %.1f us)\n", kContenders[k].pszName,
                    dMedian[k] * 1e6, *pMin * 1e6, *pMax * 1e6);
    }
    if (settings.nOnly >= 0) return;
    const double dBare = dMedian[kAddin] / dMedian[kBare];
    const double dPyserial = dMedian[kAddin] / dMedian[kPyserial];
    PrintRatio("add-in / bare loop", dBare, "at most 1.2", dBare <= kBareTarget);
    PrintRatio("add-in / pyserial", dPyserial, "below 1", dPyserial < kPyserialTarget);
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
        if (!bOk) return Fail("usage: linkbay_korv_roundtrip_bench [--rounds R] [--exchanges N] "
                              "[--only add-in|bare|pyserial] [--library PATH]");
    }
    return true;
}

bool Prepare(Context& context, const Settings& settings) {
    if (!context.addin.load(settings.sLibrary)) return Fail("add-in", context.addin.error());
    const bool bPyserial = settings.nOnly < 0 || settings.nOnly == static_cast<int>(kPyserial);
    if (bPyserial && !StartPython(context))
        return Fail("pyserial: the script did not start (Debian package python3-serial; LINKBAY_PYTHON)");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, settings)) return 2;
    std::signal(SIGPIPE, SIG_IGN);
    const PrivateEnvironment environment;
    if (environment.dir().empty()) {
        Fail("cannot make a private directory");
        return 1;
    }
    ChildProcess simulator;
    Context context;
    if (!StartSimulator(simulator, environment.dir(), context.sDevice)) {
        Fail("the simulator did not start", LINKBAY_SIM_PATH);
        return 1;
    }
    setenv("LINKBAY_COM1", context.sDevice.c_str(), 1);
    if (!Prepare(context, settings)) return 1;
    std::printf("SHOW_ACTIVE round trips against an unpaced KORV simulator on %s: %d rounds x %d exchanges\n",
                context.sDevice.c_str(), settings.nRounds, settings.nExchanges);
    std::vector<double> perExchange[kContenderCount];
    const bool bMeasured = Measure(context, settings, perExchange);
    if (context.pToPython != nullptr) std::fclose(context.pToPython);  // the script ends at end of input
    if (context.pFromPython != nullptr) std::fclose(context.pFromPython);
    if (!bMeasured) return 1;
    Report(settings, perExchange);
    return 0;
}
