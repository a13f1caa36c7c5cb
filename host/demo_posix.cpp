// The demo runs the simulators as child processes on pseudo-terminals, so it
// needs the POSIX process and file calls; the add-in itself is reached only
// through the public interface.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "acquire.h"
#include "commands.h"
#include "demo.h"
#include "diagnosis.h"
#include "library_loader.h"
#include "linkbay/families.h"
#include "plot.h"
#include "spectrum_record.h"

extern char** environ;

namespace linkbay_host {
namespace {

volatile sig_atomic_t g_nStopSignal = 0;
void OnStopSignal(int nSignal) { g_nStopSignal = nSignal; }
bool Interrupted() { return g_nStopSignal != 0; }

// The simulated instruments, and what the demo does with each.
struct DemoPort {
    int nPort;
    int32_t nDeviceType;       // LINKBAY_DEVICE_*: the simulator model and the DETHUB.INI keyword
    int32_t nLivePresetTicks;  // of 20 ms
    int32_t nConversionGain;   // channels the demo uses (a large memory takes long to read at 38400 baud); 0: all of them
};
constexpr DemoPort kDemoPorts[] = {{1, LINKBAY_DEVICE_KORV, 1500, 0}, {2, LINKBAY_DEVICE_ZEPH, 1250, 0},
                                   {3, LINKBAY_DEVICE_KORV, 1000, 0}, {4, LINKBAY_DEVICE_TAVO, 1100, 2048},
                                   {5, LINKBAY_DEVICE_PELLUX, 900, 2048}};

const LinkbayFamily& FamilyOf(const DemoPort& port) { return *LinkbayFindFamily(port.nDeviceType); }
constexpr const char* kTimeScale = "10";  // acquisition seconds per real second
constexpr int kSimulatorStartMs = 5000;
constexpr int kStopWaitMs = 3000;
constexpr const char* kPlotFile = "linkbay-demo.png";  // in the current directory: the demo keeps it

class Simulator {
public:
    Simulator() = default;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() { stop(); }

    // Starts "linkbay-sim MODEL" in its own process group (so Ctrl-C reaches
    // the demo, which then stops it in order) and waits for its control line.
    bool start(const std::string& sProgram, const char* pszModel, const std::string& sLink, std::string& sError) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return Fail("cannot make a pipe", sError);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        // --parent: a demo killed outright takes its simulators with it.
        std::vector<std::string> args = {sProgram, pszModel,   "--link",   sLink,
                                         "--time-scale", kTimeScale, "--parent", std::to_string(getpid())};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        const int nSpawn = posix_spawn(&m_pid, sProgram.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[1]);
        if (nSpawn != 0) {
            m_pid = -1;
            close(fds[0]);
            return Fail("cannot start " + sProgram + ": " + strerror(nSpawn), sError);
        }
        const bool bReady = waitForControlLine(fds[0]);
        close(fds[0]);
        return bReady || Fail(sProgram + " did not report its line within 5 s", sError);
    }

    void stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
        int nStatus = 0;
        while (waitpid(m_pid, &nStatus, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &nStatus, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_pid = -1;
    }

    const std::string& printed() const { return m_sPrinted; }

private:
    static bool Fail(const std::string& sText, std::string& sError) {
        sError = sText;
        return false;
    }

    bool waitForControlLine(int fd) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimulatorStartMs);
        while (m_sPrinted.find("\ncontrol ") == std::string::npos && !Interrupted()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[256];
            const ssize_t nRead = read(fd, buffer, sizeof buffer);
            if (nRead <= 0) return false;
            m_sPrinted.append(buffer, static_cast<size_t>(nRead));
        }
        return !Interrupted();
    }

    pid_t m_pid = -1;
    std::string m_sPrinted;
};

// Empties and removes a directory of plain files and links (no subfolders).
void RemoveFlatDirectory(const std::string& sPath) {
    if (DIR* pDir = opendir(sPath.c_str())) {
        while (const dirent* pEntry = readdir(pDir)) {
            if (strcmp(pEntry->d_name, ".") != 0 && strcmp(pEntry->d_name, "..") != 0)
                unlink((sPath + "/" + pEntry->d_name).c_str());
        }
        closedir(pDir);
    }
    rmdir(sPath.c_str());
}

std::string TemporaryRoot() {
    const char* pszTmp = getenv("TMPDIR");
    return pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp";
}

const char kDemoPrefix[] = "linkbay-demo-";

// A demo killed outright cannot tidy up after itself; the next one removes
// what such a run left: our own folders whose demo process is gone.
void RemoveLeftoversOfKilledDemos() {
    const std::string sRoot = TemporaryRoot();
    DIR* pDir = opendir(sRoot.c_str());
    if (pDir == nullptr) return;
    while (const dirent* pEntry = readdir(pDir)) {
        if (strncmp(pEntry->d_name, kDemoPrefix, sizeof kDemoPrefix - 1) != 0) continue;
        char* pszEnd = nullptr;
        const long nPid = strtol(pEntry->d_name + sizeof kDemoPrefix - 1, &pszEnd, 10);
        if (nPid <= 0 || *pszEnd != '-' || kill(static_cast<pid_t>(nPid), 0) == 0 || errno != ESRCH) continue;
        const std::string sPath = sRoot + "/" + pEntry->d_name;
        struct stat st {};
        if (lstat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()) RemoveFlatDirectory(sPath);
    }
    closedir(pDir);
}

// A private directory for DETHUB.INI and the port links, removed with its
// files; its name carries the demo's process id for the sweep above.
class TemporaryDirectory {
public:
    bool create() {
        RemoveLeftoversOfKilledDemos();
        std::string sTemplate = TemporaryRoot() + "/" + kDemoPrefix + std::to_string(getpid()) + "-XXXXXX";
        if (mkdtemp(&sTemplate[0]) == nullptr) return false;
        m_sPath = sTemplate;
        return true;
    }
    ~TemporaryDirectory() {
        if (!m_sPath.empty()) RemoveFlatDirectory(m_sPath);
    }
    const std::string& path() const { return m_sPath; }

private:
    std::string m_sPath;
};

void Section(const char* pszTitle) { printf("\n== %s\n", pszTitle); }

int32_t McbOf(int nPort) { return LINKBAY_FIRST_MCB + nPort - 1; }

void ShowLine(AddinBase& addin, int32_t nMcb, const std::string& sLine) {
    printf("\n$ linkbay send %d 1 %s\n", nMcb, sLine.c_str());
    PrintDialogResult(SendLine(addin, nMcb, 1, sLine), {});
    fflush(stdout);
}

// Waits for every acquisition to end at its preset, with a bar each.
bool WaitForPresets(AddinBase& addin) {
    std::vector<WatchedDetector> detectors;
    for (const DemoPort& port : kDemoPorts) {
        detectors.emplace_back();
        detectors.back().target = AcquireTarget{McbOf(port.nPort), 1};
        detectors.back().dPresetSeconds = port.nLivePresetTicks * kSecondsPerTick;
        detectors.back().nChannels = port.nConversionGain;
    }
    WatchAcquisitions(addin, detectors, Interrupted);
    return !Interrupted();
}

bool WriteConfiguration(const std::string& sDir) {
    // The fastest rate the driver takes: a spectrum is 8 KiB or more on the line.
    std::string sText = "[CONFIG]\nBaudRate=115200\n";
    for (const DemoPort& port : kDemoPorts) sText += "COM" + std::to_string(port.nPort) + "=" + FamilyOf(port).pszKeyword + "\n";
    std::ofstream ini(sDir + "/DETHUB.INI", std::ios::binary);
    ini << sText;
    printf("  DETHUB.INI:\n");
    for (size_t nStart = 0, nEnd = 0; (nEnd = sText.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
        printf("    %s\n", sText.substr(nStart, nEnd - nStart).c_str());
    return static_cast<bool>(ini);
}

void SavePlot(const SpectrumRecord& record) {
    if (record.spectrum.nResult != 1) return;
    std::string sError;
    if (PlotSpectrum(record, PlotRequest{kPlotFile, true, 1000, 600}, sError))
        printf("  picture of it: %s (linkbay plot)\n", kPlotFile);
    else
        printf("  no picture of it: %s\n", sError.c_str());
}

void RunScript(AddinLibrary& library) {
    AddinBase& addin = *library.addin();
    Section("linkbay list");
    PrintDetectors(library);
    if (Interrupted()) return;

    Section("command lines");
    for (const DemoPort& port : kDemoPorts) {
        const int32_t nMcb = McbOf(port.nPort);
        ShowLine(addin, nMcb, "SHOW_VERSION");
        if (port.nConversionGain != 0) ShowLine(addin, nMcb, "SET_GAIN_CONVERSION " + std::to_string(port.nConversionGain));
        ShowLine(addin, nMcb, "CLEAR_DATA");
        ShowLine(addin, nMcb, "SET_LIVE_PRESET " + std::to_string(port.nLivePresetTicks));
        ShowLine(addin, nMcb, "START");
        if (Interrupted()) return;
    }
    ShowLine(addin, McbOf(kDemoPorts[0].nPort), "SHOW_LIVE");
    ShowLine(addin, McbOf(kDemoPorts[0].nPort), "SET_ROI 620,90");  // around the first peak, shaded in the plot
    ShowLine(addin, McbOf(kDemoPorts[0].nPort), "SET_GAIN_FINE 99999");  // out of range: the parser's pair

    Section((std::string("acquisition (live-time presets; simulated time runs ") + kTimeScale + "x)").c_str());
    if (!WaitForPresets(addin)) return;
    for (const DemoPort& port : kDemoPorts) {
        ShowLine(addin, McbOf(port.nPort), "STOP");
        ShowLine(addin, McbOf(port.nPort), "SHOW_LIVE");
    }

    Section("spectra");
    for (const DemoPort& port : kDemoPorts) {
        const std::string sTitle = "COM" + std::to_string(port.nPort) + " (MCB " + std::to_string(McbOf(port.nPort)) + ")";
        printf("reading the spectrum of %s ...\n", sTitle.c_str());
        fflush(stdout);
        const SpectrumRecord record = ReadSpectrumRecord(library, McbOf(port.nPort), 1);
        PrintSpectrumSummary(record.spectrum, sTitle.c_str());
        if (&port == &kDemoPorts[0]) SavePlot(record);
    }
}

std::string SimulatorPath(const char* pszArgv0) {
    const char* pszSim = getenv("LINKBAY_SIM");
    if (pszSim != nullptr && *pszSim != '\0') return pszSim;
    return ProgramDirectory(pszArgv0) + "/linkbay-sim";
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A closed output (linkbay demo | head) stops the demo the same way.
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(nSignal, &action, nullptr);
}

}  // namespace

int RunDemo(const char* pszArgv0, const std::string& sLibrary) {
    const std::string sSimulator = SimulatorPath(pszArgv0);
    if (access(sSimulator.c_str(), X_OK) != 0) {
        fprintf(stderr, "linkbay: demo: no simulator at %s; build the linkbay-sim target or set LINKBAY_SIM\n",
                sSimulator.c_str());
        return 1;
    }
    CatchStopSignals();
    TemporaryDirectory directory;
    if (!directory.create()) {
        fprintf(stderr, "linkbay: demo: cannot make a temporary directory: %s\n", strerror(errno));
        return 1;
    }
    printf("Linkbay demo: simulated instruments, configuration in %s\n", directory.path().c_str());
    std::vector<std::unique_ptr<Simulator>> simulators;
    for (const DemoPort& port : kDemoPorts) {
        const std::string sLink = directory.path() + "/com" + std::to_string(port.nPort);
        printf("  starting a simulated %s instrument for COM%d ... ", FamilyOf(port).pszDisplayName, port.nPort);
        fflush(stdout);
        simulators.push_back(std::make_unique<Simulator>());
        std::string sError;
        if (!simulators.back()->start(sSimulator, FamilyOf(port).pszSimModel, sLink, sError)) {
            printf("failed\n");
            fprintf(stderr, "linkbay: demo: %s\n", Interrupted() ? "interrupted" : sError.c_str());
            return 1;
        }
        const std::string& sPrinted = simulators.back()->printed();
        printf("%s", sPrinted.substr(0, sPrinted.find('\n')).c_str());
        printf(" (LINKBAY_COM%d -> %s)\n", port.nPort, sLink.c_str());
        setenv(("LINKBAY_COM" + std::to_string(port.nPort)).c_str(), sLink.c_str(), 1);
    }
    if (!WriteConfiguration(directory.path())) {
        fprintf(stderr, "linkbay: demo: cannot write DETHUB.INI in %s\n", directory.path().c_str());
        return 1;
    }
    // A private namespace keeps the demo's shared table apart from any other run.
    setenv("LINKBAY_WINDIR", directory.path().c_str(), 1);
    setenv("LINKBAY_IPC_NAMESPACE", ("demo" + std::to_string(getpid())).c_str(), 1);

    int nExit = 0;
    {
        AddinLibrary library;
        if (!library.load(sLibrary)) {
            fprintf(stderr, "linkbay: %s\nlinkbay: build the library first, or name it with --library PATH\n",
                    library.error().c_str());
            return 1;
        }
        const std::string sProblem = SharingProblem(library);
        if (!sProblem.empty()) {
            fprintf(stderr, "linkbay: %s\n", sProblem.c_str());
            return 1;
        }
        printf("  opening the add-in (identifies the instruments) ... ");
        fflush(stdout);
        library.addin()->Open();
        printf("done\n");
        RunScript(library);
        library.addin()->Close();
    }
    for (auto& simulator : simulators) simulator->stop();
    if (Interrupted()) {
        printf("\ninterrupted: simulators stopped, temporary files removed\n");
        nExit = 128 + g_nStopSignal;
    } else {
        printf("\ndemo finished: simulators stopped, temporary files removed\n");
    }
    return nExit;
}

}  // namespace linkbay_host
