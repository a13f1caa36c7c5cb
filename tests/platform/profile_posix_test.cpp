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
    // Directories below the test's own: LINKBAY_WINDIR, XDG_CONFIG_HOME and
    // HOME (nullptr: unset), and where bare names go.
    struct Row { const char *pszWindir, *pszConfig, *pszHome, *pszExpectedDir; };
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

// The helper writes k0..k3 of a section round after round with values
// "<round>:<fill>:<round>"; whatever moment it dies at, each value is whole,
// and the keys hold round r up to some key and r - 1 after it.
void ExpectWholeRounds(const std::string& sSection) {
    std::vector<long> rounds;
    for (int k = 0; k < 4; ++k) {
        std::string sValue(4000, '\0');
        sValue.resize(GetPrivateProfileStringA(sSection.c_str(), ("k" + std::to_string(k)).c_str(), "", sValue.data(),
                                               static_cast<DWORD>(sValue.size()), kIni));
        rounds.push_back(atol(sValue.c_str()));
        const std::string sRound = std::to_string(rounds.back());
        EXPECT_EQ(sValue, sRound + ":" + std::string(3000, 'x') + ":" + sRound) << sSection << " k" << k;
    }
    for (size_t k = 1; k < rounds.size(); ++k) {
        EXPECT_LE(rounds[k], rounds[k - 1]) << sSection;
        EXPECT_GE(rounds[k], rounds[0] - 1) << sSection;
    }
}

// Each writer has a section of its own; those of the writers before must
// come through every later kill whole.
TEST(ProfileAtomicWrite, KilledWriterLeavesOldOrNewFileWithItsMode) {
    const std::string sDir = UseFreshEnvironment();
    ASSERT_TRUE(WritePrivateProfileStringA("First", "k", "v", kIni));
    EXPECT_EQ(ModeOf(sDir + "/" + kIni), 0600u);  // a new file is private, whatever the umask
    ASSERT_EQ(chmod((sDir + "/" + kIni).c_str(), 0640), 0);
    const int kDelaysUs[] = {0, 200, 700, 1500, 4000, 9000};  // the kill lands anywhere: these only spread it
    for (size_t i = 0; i < std::size(kDelaysUs); ++i) {
        SCOPED_TRACE("killed after " + std::to_string(kDelaysUs[i]) + " us");
        ChildProcess writer({"profile-write-loop", kIni, "S" + std::to_string(i), "3000"});
        ASSERT_EQ(writer.readLine(), "ready");
        usleep(static_cast<useconds_t>(kDelaysUs[i]));
        writer.kill();
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);
        for (size_t j = 0; j <= i; ++j) ExpectWholeRounds("S" + std::to_string(j));
        // A killed writer may leave its one temporary; the next write removes it.
        EXPECT_LE(DirectoryEntries(sDir).size(), 2u);
    }
    ASSERT_TRUE(WritePrivateProfileStringA("First", "k", "w", kIni));
    EXPECT_EQ(DirectoryEntries(sDir), std::vector<std::string>{kIni});
    EXPECT_EQ(ModeOf(sDir + "/" + kIni), 0640u);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
