// Profile commands of the helper program: a writer that rewrites a profile
// file in a loop until it is killed, so tests can interrupt writes anywhere;
// a writer of many keys, started on a signal, so two run at once; and a
// reader that reports the memory its read took.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "helper_commands.h"
#include "platform/platform.h"

namespace linkbay {
namespace test {

// profile-write-loop FILE SECTION FILL: writes keys k0..k3 of SECTION in
// order, round after round, each with the value "<round>:" FILL times 'x'
// ":<round>", so that a cut value shows at either end. Prints "ready" once
// the first round is written.
int ProfileWriteLoopCommand(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string sFill(static_cast<size_t>(atol(argv[2])), 'x');
    for (long nRound = 1;; ++nRound) {
        const std::string sValue = std::to_string(nRound) + ":" + sFill + ":" + std::to_string(nRound);
        for (int nKey = 0; nKey < 4; ++nKey) {
            if (!WritePrivateProfileStringA(argv[1], ("k" + std::to_string(nKey)).c_str(), sValue.c_str(), argv[0])) {
                printf("error %u\n", static_cast<unsigned>(GetLastError()));
                return 1;
            }
        }
        if (nRound == 1) printf("ready\n");
    }
}

// profile-write-keys FILE SECTION PREFIX COUNT: prints "ready", waits for a
// line on its input, then writes PREFIX0=0 .. PREFIX<COUNT-1> to SECTION and
// prints "done", or "error <code>" at the first write refused.
int ProfileWriteKeysCommand(int argc, char** argv) {
    if (argc < 4) return 2;
    printf("ready\n");
    std::string sGo;
    if (!ReadInputLine(&sGo)) return 1;
    for (long i = 0; i < atol(argv[3]); ++i) {
        const std::string sValue = std::to_string(i);
        if (!WritePrivateProfileStringA(argv[1], (argv[2] + sValue).c_str(), sValue.c_str(), argv[0])) {
            printf("error %u\n", static_cast<unsigned>(GetLastError()));
            return 1;
        }
    }
    printf("done\n");
    return 0;
}

// The process's peak resident memory in KiB, from /proc/self/status.
long PeakResidentKib() {
    std::ifstream status("/proc/self/status");
    for (std::string sLine; std::getline(status, sLine);)
        if (sLine.compare(0, 6, "VmHWM:") == 0) return atol(sLine.c_str() + 6);
    return -1;
}

// profile-peak-memory FILE SECTION KEY: reads the key and prints the peak
// resident memory before and after in KiB, the value's length and the last error.
int ProfilePeakMemoryCommand(int argc, char** argv) {
    if (argc < 3) return 2;
    const long nBefore = PeakResidentKib();
    char szValue[256];
    const DWORD cch = GetPrivateProfileStringA(argv[1], argv[2], "", szValue, sizeof szValue, argv[0]);
    const DWORD dwError = GetLastError();
    printf("%ld %ld %u %u\n", nBefore, PeakResidentKib(), static_cast<unsigned>(cch), static_cast<unsigned>(dwError));
    return 0;
}

}  // namespace test
}  // namespace linkbay
