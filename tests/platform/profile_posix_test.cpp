// Profile files as only the POSIX layer has them: bare names in a Windows
// directory that LINKBAY_WINDIR chooses, and writes that replace the file
// whole, keeping its mode, so that a writer killed at any moment leaves the
// old file or the new one (Win32 promises none of this).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

constexpr const char* kIni = "T.INI";

TEST(ProfileLocation, BareNamesLiveInTheWindowsDirectory) {
    const std::string sBase = UseFreshEnvironment();
    struct Row {
        const char* pszWindir;  // nullptr: unset; all relative to the test's directory
        const char* pszConfig;
        const char* pszHome;
        const char* pszExpectedDir;
    };
    mkdir((sBase + "/w").c_str(), 0700);
    for (const Row& row : {Row{"/w", "/x", "/h", "/w"}, Row{"", "/x", "/h", "/x/linkbay"},
                           Row{nullptr, nullptr, "/h", "/h/.config/linkbay"}}) {
        SCOPED_TRACE(row.pszExpectedDir);
        std::vector<std::unique_ptr<ScopedVariable>> variables;
        for (auto [pszName, pszValue] : {std::pair{"LINKBAY_WINDIR", row.pszWindir},
                                         std::pair{"XDG_CONFIG_HOME", row.pszConfig}, std::pair{"HOME", row.pszHome}}) {
            const std::string sValue = pszValue != nullptr && *pszValue != '\0' ? sBase + pszValue : "";
            variables.push_back(std::make_unique<ScopedVariable>(pszName, sValue));
            if (pszValue == nullptr) UnsetVariable(pszName);
        }
        EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "v", "LOC.INI"));
        EXPECT_EQ(ReadRaw(sBase + row.pszExpectedDir + "/LOC.INI"), std::optional<std::string>("[s]\r\nk=v\r\n"));
    }
}

mode_t ModeOf(const std::string& sPath) {
    struct stat info {};
    return stat(sPath.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The helper writes k0..k3 round after round with values "<round>:<fill>:<round>";
// whatever moment it dies at, each value is whole, and the keys hold round r
// up to some key and r - 1 after it.
void ExpectWholeRounds(const char* pszFile, size_t cchFill) {
    std::vector<long> rounds;
    for (int k = 0; k < 4; ++k) {
        std::string sValue(cchFill + 64, '\0');
        sValue.resize(GetPrivateProfileStringA("S", ("k" + std::to_string(k)).c_str(), "", sValue.data(),
                                               static_cast<DWORD>(sValue.size()), pszFile));
        const size_t first = sValue.find(':');
        const size_t last = sValue.rfind(':');
        ASSERT_NE(first, std::string::npos) << "k" << k;
        EXPECT_EQ(sValue.substr(0, first), sValue.substr(last + 1)) << "k" << k;
        EXPECT_EQ(sValue.substr(first + 1, last - first - 1), std::string(cchFill, 'x')) << "k" << k;
        rounds.push_back(atol(sValue.c_str()));
    }
    for (size_t k = 1; k < rounds.size(); ++k) {
        EXPECT_LE(rounds[k], rounds[k - 1]);
        EXPECT_GE(rounds[k], rounds[0] - 1);
    }
}

TEST(ProfileAtomicWrite, KilledWriterLeavesOldOrNewFileWithItsMode) {
    const std::string sDir = UseFreshEnvironment();
    const std::string sInitial = "0:" + std::string(3000, 'x') + ":0";
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(WritePrivateProfileStringA("S", ("k" + std::to_string(k)).c_str(), sInitial.c_str(), kIni));
    EXPECT_EQ(ModeOf(sDir + "/" + kIni), 0600u);  // a new file is private, whatever the umask
    ASSERT_EQ(chmod((sDir + "/" + kIni).c_str(), 0640), 0);
    // The kill lands anywhere in the writer's loop; the delays only spread it.
    for (const int nDelayUs : {0, 200, 700, 1500, 4000, 9000}) {
        SCOPED_TRACE("killed after " + std::to_string(nDelayUs) + " us");
        ChildProcess writer({"profile-write-loop", kIni, "S", "3000"});
        ASSERT_EQ(writer.readLine(), "ready");
        usleep(static_cast<useconds_t>(nDelayUs));
        writer.kill();
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);
        ExpectWholeRounds(kIni, 3000);
        // A killed writer may leave its one temporary; the next write removes it.
        EXPECT_LE(DirectoryEntries(sDir).size(), 2u);
    }
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k0", sInitial.c_str(), kIni));
    EXPECT_EQ(DirectoryEntries(sDir), std::vector<std::string>{kIni});
    EXPECT_EQ(ModeOf(sDir + "/" + kIni), 0640u);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
