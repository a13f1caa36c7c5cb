// Profile commands of the helper program: a writer that rewrites a profile
// file in a loop until it is killed, so tests can interrupt writes anywhere.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "helper_commands.h"
#include "platform/platform.h"

namespace linkbay {
namespace test {
namespace {

constexpr int kKeyCount = 4;

std::string KeyName(int nKey) { return "k" + std::to_string(nKey); }

// "<round>:" + fill + ":<round>", so that a cut value shows at either end.
std::string RoundValue(long nRound, size_t cchFill) {
    const std::string sRound = std::to_string(nRound);
    return sRound + ":" + std::string(cchFill, 'x') + ":" + sRound;
}

// profile-write-loop FILE SECTION FILL: writes keys k0..k3 in order, all with
// the same round, round after round. It first finishes a round a killed
// writer left half done, so that keys stay in order and one round apart.
// Prints "ready" after its first write.
int RunWriteLoop(int argc, char** argv) {
    if (argc < 3) return 2;
    const char* pszFile = argv[0];
    const char* pszSection = argv[1];
    const size_t cchFill = static_cast<size_t>(atol(argv[2]));
    int rounds[kKeyCount];
    for (int i = 0; i < kKeyCount; ++i)
        rounds[i] = static_cast<int>(GetPrivateProfileIntA(pszSection, KeyName(i).c_str(), -1, pszFile));
    int nKey = 1;
    while (nKey < kKeyCount && rounds[nKey] == rounds[0]) ++nKey;
    long nRound = nKey < kKeyCount ? rounds[0] : rounds[0] + 1;
    if (nKey == kKeyCount) nKey = 0;
    for (bool bFirst = true;; ++nRound, nKey = 0) {
        for (; nKey < kKeyCount; ++nKey) {
            const std::string sValue = RoundValue(nRound, cchFill);
            if (!WritePrivateProfileStringA(pszSection, KeyName(nKey).c_str(), sValue.c_str(), pszFile)) {
                printf("error %u\n", static_cast<unsigned>(GetLastError()));
                return 1;
            }
            if (bFirst) printf("ready\n");
            bFirst = false;
        }
    }
}

}  // namespace

const HelperCommand kProfileCommands[] = {
    {"profile-write-loop", RunWriteLoop},
    {nullptr, nullptr},
};

}  // namespace test
}  // namespace linkbay
