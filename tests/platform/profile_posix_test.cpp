// Profile files as only the POSIX layer has them: bare names in a Windows
// directory that LINKBAY_WINDIR chooses, and writes that replace the file
// whole, keeping its mode, so that a writer killed at any moment leaves the
// old file or the new one (Win32 promises none of this).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
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

// Two processes started together write keys of their own into one section:
// each write reads the file the other may have just replaced.
TEST(ProfileConcurrentWrite, TwoProcessesWritingDifferentKeysLoseNothing) {
    UseFreshEnvironment();
    constexpr int kKeys = 100;
    const char* const kPrefixes[] = {"a", "b"};
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (const char* pszPrefix : kPrefixes) {
        writers.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"profile-write-keys", kIni, "S", pszPrefix, std::to_string(kKeys)}));
        ASSERT_EQ(writers.back()->readLine(), "ready");
    }
    for (auto& writer : writers) writer->writeLine("go");
    for (auto& writer : writers) EXPECT_EQ(writer->readLine(60000), "done");
    std::vector<std::string> lost;
    for (const char* pszPrefix : kPrefixes) {
        for (int i = 0; i < kKeys; ++i) {
            const std::string sKey = pszPrefix + std::to_string(i);
            char szValue[16] = {};
            GetPrivateProfileStringA("S", sKey.c_str(), "", szValue, sizeof szValue, kIni);
            if (szValue != std::to_string(i)) lost.push_back(sKey);
        }
    }
    EXPECT_EQ(lost, std::vector<std::string>{});
}

// A write through a link, absolute or relative, replaces what it leads to.
TEST(ProfileSymlink, WriteReachesTheTargetAndTheLinkStays) {
    const std::string sDir = UseFreshEnvironment();
    ASSERT_EQ(mkdir((sDir + "/real").c_str(), 0700), 0);
    for (const std::string& sLink : {sDir + "/real/abs.ini", std::string("real/rel.ini")}) {
        SCOPED_TRACE(sLink);
        const std::string sTarget = sLink[0] == '/' ? sLink : sDir + "/" + sLink;
        const std::string sIni = sDir + "/" + kIni;
        WriteRaw(sTarget, "[s]\r\nk=old\r\n");
        ASSERT_EQ(symlink(sLink.c_str(), sIni.c_str()), 0);
        EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "new", kIni));
        char szLink[512] = {};
        EXPECT_EQ(readlink(sIni.c_str(), szLink, sizeof szLink - 1), static_cast<ssize_t>(sLink.size()));
        EXPECT_EQ(szLink, sLink);
        EXPECT_EQ(ReadRaw(sTarget), std::optional<std::string>("[s]\r\nk=new\r\n"));
        unlink(sIni.c_str());
    }
}

// A file of empty lines costs its bytes, not a record per line: a process
// of its own reads it, and its peak resident memory is compared with the
// file's size (generously: this checks memory, not speed).
TEST(ProfileMemory, TenMegabytesOfEmptyLinesAreReadInBoundedMemory) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    constexpr long kFileKib = 10 * 1024;
    WriteRaw(sPath, std::string(kFileKib * 1024, '\n') + "[s]\nk=v\n");
    ChildProcess reader({"profile-peak-memory", kIni, "s", "k"});
    long nBeforeKib = 0, nAfterKib = 0, nRead = 0, nError = -1;
    std::istringstream(reader.readLine(120000)) >> nBeforeKib >> nAfterKib >> nRead >> nError;
    printf("peak resident memory of a process reading a %ld KiB file of empty lines: %ld KiB before, %ld KiB after\n",
           kFileKib, nBeforeKib, nAfterKib);
    EXPECT_EQ(nRead, 1);
    EXPECT_EQ(nError, 0);
    EXPECT_LT(nAfterKib - nBeforeKib, 4 * kFileKib);
}

}  // namespace
}  // namespace test
}  // namespace linkbay
