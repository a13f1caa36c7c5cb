// linkbay-sim: a simulated instrument on a pseudo-terminal, for use without
// hardware, by the demo and by tests in other processes.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "sim/control_server.h"
#include "sim/control_words.h"
#include "sim/simulator.h"

namespace {

volatile std::sig_atomic_t g_signalled = 0;
void OnSignal(int) { g_signalled = 1; }

const char kUsage[] =
    "usage: linkbay-sim FAMILY [options]\n"
    "Serves a simulated instrument of FAMILY (%s) on a pseudo-terminal and prints\n"
    "its device path, the token its control connections must send first ('token T')\n"
    "and its control port.\n"
    "\n"
    "  --baud N          the instrument's rate: replies are paced at N, requests sent\n"
    "                    at another rate go unanswered (default: the family's own rate,\n"
    "                    given with its commands below; without one, follow the driver)\n"
    "  --link PATH       symlink to the device, re-pointed when the line returns (only a\n"
    "                    link is replaced there: a file at PATH is refused)\n"
    "  --control PORT    control port on 127.0.0.1 (default: chosen by the system)\n"
    "  --no-pacing       reply at once instead of at the line's speed\n"
    "  --time-scale F    acquisition seconds per real second (default 1)\n"
    "  --manual-clock    acquisition time passes only by the control command 'advance'\n"
    "  --wire-log N      keep the last N entries of the wire log (default %zu)\n"
    "  --ready-file PATH also write the lines printed at start-up to PATH, complete\n"
    "                    when it appears (for starters that cannot read the output)\n"
    "  --exit-on-disconnect\n"
    "                    end when the first control connection closes\n"
    "  --quiet           print nothing at start-up (with --ready-file)\n"
    "  --parent PID      end when process PID, the starter, ends (even when killed)\n"
    "  --help            this text and the control commands\n";

struct Arguments {
    std::string family;
    linkbay::sim::SimulatorOptions options;
    uint16_t controlPort = 0;
    std::string readyFile;
    bool exitOnDisconnect = false;
    pid_t parent = 0;
    bool quiet = false;
    bool help = false;
};

bool Fail(const std::string& message) {
    std::fprintf(stderr, "linkbay-sim: %s\n", message.c_str());
    return false;
}

bool ParseArguments(int argc, char** argv, Arguments& arguments) {
    using linkbay::sim::ParseReal;
    using linkbay::sim::ParseUnsigned;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : "";
        uint64_t number = 0;
        double real = 0;
        if (option == "--help" || option == "-h") {
            arguments.help = true;
        } else if (option == "--no-pacing") {
            arguments.options.pacing = false;
        } else if (option == "--manual-clock") {
            arguments.options.manualClock = true;
        } else if (option == "--exit-on-disconnect") {
            arguments.exitOnDisconnect = true;
        } else if (option == "--quiet") {
            arguments.quiet = true;
        } else if (option == "--baud" || option == "--link" || option == "--control" || option == "--time-scale" ||
                   option == "--ready-file" || option == "--wire-log" || option == "--parent") {
            if (!hasValue) return Fail(option + " needs a value; see --help");
            ++i;
            if (option == "--link") {
                arguments.options.linkPath = value;
            } else if (option == "--ready-file") {
                arguments.readyFile = value;
            } else if (option == "--baud") {
                if (!ParseUnsigned(value, number) || number < 50 || number > 4000000) {
                    return Fail("--baud wants a rate from 50 to 4000000, not '" + value + "'");
                }
                arguments.options.instrumentBaud = static_cast<uint32_t>(number);
            } else if (option == "--wire-log") {
                if (!ParseUnsigned(value, number) || number < 1 || number > linkbay::sim::WireLog::kMaxCapacity) {
                    return Fail("--wire-log wants a number of entries from 1 to " +
                                std::to_string(linkbay::sim::WireLog::kMaxCapacity) + ", not '" + value + "'");
                }
                arguments.options.wireLogEntries = static_cast<size_t>(number);
            } else if (option == "--parent") {
                if (!ParseUnsigned(value, number) || number < 2 || number > INT32_MAX) {
                    return Fail("--parent wants the starter's process id, not '" + value + "'");
                }
                arguments.parent = static_cast<pid_t>(number);
            } else if (option == "--control") {
                if (!ParseUnsigned(value, number) || number > 65535) {
                    return Fail("--control wants a port from 0 to 65535, not '" + value + "'");
                }
                arguments.controlPort = static_cast<uint16_t>(number);
            } else {
                if (!ParseReal(value, real) || real <= 0 || real > 100) {
                    return Fail("--time-scale wants a factor above 0 and up to 100, not '" + value + "'");
                }
                arguments.options.timeScale = real;
            }
        } else if (!option.empty() && option[0] == '-') {
            return Fail("unknown option '" + option + "'; see --help");
        } else if (arguments.family.empty()) {
            arguments.family = option;
        } else {
            return Fail("one family at a time; '" + option + "' is one too many");
        }
    }
    if (!arguments.help && arguments.family.empty()) {
        return Fail(std::string("name the instrument family (") + linkbay::sim::KnownFamilies() + "); see --help");
    }
    return true;
}

// Written beside and renamed into place, so a reader never sees half of it.
// The partial file is a new one of a name nobody could plant a link at
// beforehand (mkstemp), private, as the token in it is; the rename replaces
// whatever entry PATH was without writing through it.
bool WriteReadyFile(const std::string& path, const std::string& text) {
    std::string partial = path + ".partial.XXXXXX";
    const int fd = ::mkostemp(&partial[0], O_CLOEXEC);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
    const int savedErrno = errno;
    const bool written = ::close(fd) == 0 && done == text.size() && std::rename(partial.c_str(), path.c_str()) == 0;
    if (!written) {
        const int reason = done == text.size() ? errno : savedErrno;
        ::unlink(partial.c_str());
        errno = reason;
    }
    return written;
}

// Another simulator may have taken the link over meanwhile.
void RemoveLinkIfOurs(const std::string& link, const std::string& device) {
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length >= 0 && std::string(target, static_cast<size_t>(length)) == device) ::unlink(link.c_str());
}

// The commands of the family named, or of every family when none is.
void PrintHelp(const std::string& family) {
    std::printf(kUsage, linkbay::sim::KnownFamilies().c_str(), linkbay::sim::WireLog::kDefaultCapacity);
    std::printf("\nControl commands (one a line on the control port; replies end with 'ok' or 'err'):\n%s",
                linkbay::sim::Simulator::ControlHelp().c_str());
    for (const std::string& name : linkbay::sim::ModelNames()) {
        const auto model = linkbay::sim::CreateModel(name);
        if (!model || (!family.empty() && name != family)) continue;
        const uint32_t baud = linkbay::sim::OwnBaud(name);
        const std::string rate = baud ? " (its own rate: " + std::to_string(baud) + " baud)" : "";
        std::printf("\nControl commands of a %s instrument%s:\n%s", name.c_str(), rate.c_str(),
                    model->controlHelp().c_str());
    }
}

// The kernel signals us when the starter ends, however it ends; a starter
// gone before we asked is seen in our new parent.
bool EndWithParent(pid_t parent) {
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) return Fail(std::string("cannot watch the parent: ") + std::strerror(errno));
    if (::getppid() != parent) return Fail("the starter (process " + std::to_string(parent) + ") has already ended");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!ParseArguments(argc, argv, arguments)) return 2;
    if (arguments.help) {
        PrintHelp(arguments.family);
        return 0;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    if (arguments.parent != 0 && !EndWithParent(arguments.parent)) return 1;
    std::unique_ptr<linkbay::sim::InstrumentModel> model = linkbay::sim::CreateModel(arguments.family);
    if (!model) {
        Fail("unknown family '" + arguments.family + "'; known: " + linkbay::sim::KnownFamilies());
        return 2;
    }
    if (arguments.options.instrumentBaud == 0) {
        arguments.options.instrumentBaud = linkbay::sim::OwnBaud(arguments.family);
    }
    linkbay::sim::Simulator simulator(std::move(model), arguments.options);
    std::string error;
    if (!simulator.start(error)) {
        Fail(error);
        return 1;
    }
    linkbay::sim::ControlServer server(simulator);
    if (arguments.exitOnDisconnect) server.quitWhenFirstClientLeaves();
    if (!server.start(arguments.controlPort, error)) {
        Fail(error);
        return 1;
    }
    std::string startText = "device " + simulator.devicePath() + "\n";
    if (!arguments.options.linkPath.empty()) startText += "link " + arguments.options.linkPath + "\n";
    // The token before the control line: a starter that has seen the
    // control line has the token too.
    startText += "token " + server.token() + "\n";
    startText += "control 127.0.0.1:" + std::to_string(server.port()) + "\n";
    if (!arguments.quiet) std::fputs(startText.c_str(), stdout);
    std::fflush(stdout);
    if (!arguments.readyFile.empty() && !WriteReadyFile(arguments.readyFile, startText)) {
        Fail("cannot write the ready file '" + arguments.readyFile + "': " + std::strerror(errno));
        return 1;
    }
    while (!g_signalled && !simulator.quitRequested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The link goes before the control port closes: a starter that waits for
    // the port to close may then put a new simulator on the same link.
    if (!arguments.options.linkPath.empty()) RemoveLinkIfOurs(arguments.options.linkPath, simulator.devicePath());
    server.stop();
    simulator.stop();
    return 0;
}
