// Profile files: reads, writes and their Win32 quirks, checked byte for byte,
// and writes that survive being killed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/child_process.h"
#include "platform/platform.h"
#include "support/test_env.h"

using namespace std::string_view_literals;

namespace linkbay {
namespace test {
namespace {

constexpr const char* kIni = "T.INI";
constexpr DWORD kUntouched = 0xdeadbeef;

void WriteRaw(const std::string& sPath, std::string_view text) {
    std::ofstream(sPath, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::optional<std::string> ReadRaw(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> DirectoryEntries(const std::string& sDir) {
    std::vector<std::string> names;
    if (DIR* pDir = opendir(sDir.c_str())) {
        while (const dirent* pEntry = readdir(pDir))
            if (strcmp(pEntry->d_name, ".") != 0 && strcmp(pEntry->d_name, "..") != 0)
                names.push_back(pEntry->d_name);
        closedir(pDir);
    }
    return names;
}

constexpr std::string_view kMain =
    "; settings\r\n[Main]\r\n  Name = Value  \r\nquoted=\"a b\"\r\nsingle='x'\r\nmixed=\"abc'\r\n"
    "empty=\r\nnovalue\r\n\r\n[ Other ]\nk=v\n"sv;
// Binary bytes, NULs, a '[' without ']', a lone CR as line end, no final line end.
constexpr std::string_view kBroken =
    "\x01\xff[bad\r\n[Sec]\r\nk\0ey=1\r\nkey=va\0lue\r\n[open\r\nz=9\rlast=1"sv;

struct ReadCase {
    std::string_view sFile;  // data() == nullptr: no file
    const char* pszSection;
    const char* pszKey;
    const char* pszDefault;
    DWORD nSize;
    std::string_view sExpected;  // the bytes written, NULs included
    DWORD dwReturn;
    DWORD dwError;
};

const ReadCase kReadCases[] = {
    {{}, "Main", "Name", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {kMain, "Nope", "Name", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {kMain, "Main", "nokey", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {kMain, "Main", "nokey", nullptr, 64, "\0"sv, 0, ERROR_FILE_NOT_FOUND},
    {kMain, "Main", "nokey", "d e  ", 64, "d e\0"sv, 3, ERROR_FILE_NOT_FOUND},
    {kMain, "Main", "novalue", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {kMain, "MAIN", " name ", "", 64, "Value\0"sv, 5, ERROR_SUCCESS},
    {kMain, "other", "K", "", 64, "v\0"sv, 1, ERROR_SUCCESS},
    {kMain, "Main", "empty", "dflt", 64, "\0"sv, 0, ERROR_SUCCESS},
    {kMain, "Main", "quoted", "", 64, "a b\0"sv, 3, ERROR_SUCCESS},
    {kMain, "Main", "single", "", 64, "x\0"sv, 1, ERROR_SUCCESS},
    {kMain, "Main", "mixed", "", 64, "\"abc'\0"sv, 5, ERROR_SUCCESS},
    {kMain, "Main", "quoted", "", 5, "a b\0"sv, 3, ERROR_SUCCESS},
    {kMain, "Main", "quoted", "", 4, "a \0"sv, 2, ERROR_SUCCESS},  // the closing quote's place is lost too
    {kMain, "Main", "quoted", "", 3, "a \0"sv, 2, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 6, "Value\0"sv, 5, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 5, "Valu\0"sv, 4, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 1, "\0"sv, 0, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 0, ""sv, 0, ERROR_INVALID_PARAMETER},
    {kMain, nullptr, "Name", "dflt", 64, "Main\0Other\0\0"sv, 11, ERROR_SUCCESS},
    {kMain, nullptr, nullptr, "", 12, "Main\0Other\0\0"sv, 10, ERROR_SUCCESS},
    {kMain, nullptr, nullptr, "", 8, "Main\0O\0\0"sv, 6, ERROR_SUCCESS},
    {kMain, nullptr, nullptr, "", 1, "\0"sv, 0, ERROR_SUCCESS},
    {kMain, "Main", nullptr, "", 64, "Name\0quoted\0single\0mixed\0empty\0\0"sv, 31, ERROR_SUCCESS},
    {kMain, "Main", nullptr, "", 10, "Name\0quo\0\0"sv, 8, ERROR_SUCCESS},
    {kMain, "Nope", nullptr, "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {{}, nullptr, nullptr, "", 64, "\0"sv, 0, ERROR_FILE_NOT_FOUND},
    {kBroken, "sec", "key", "", 64, "va\0"sv, 2, ERROR_SUCCESS},
    {kBroken, "Sec", "k", "", 64, "1\0"sv, 1, ERROR_SUCCESS},
    {kBroken, "Sec", "z", "", 64, "9\0"sv, 1, ERROR_SUCCESS},
    {kBroken, "Sec", "last", "", 64, "1\0"sv, 1, ERROR_SUCCESS},
    {kBroken, "Sec", "[open", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {kBroken, "Sec", nullptr, "", 64, "k\0key\0z\0last\0\0"sv, 13, ERROR_SUCCESS},
    {kBroken, nullptr, nullptr, "", 64, "Sec\0\0"sv, 4, ERROR_SUCCESS},
    {""sv, "a", "b", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {"x=1\r\n[]\r\nx=2\r\n"sv, "", "x", "", 64, "2\0"sv, 1, ERROR_SUCCESS},
    {"x=1\r\n[s]\r\n"sv, "", "x", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {"[s]\na=1\n[S]\nb=2\n"sv, "S", "b", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {"\xEF\xBB\xBF[s]\nk=1\n"sv, "s", "k", "", 64, "1\0"sv, 1, ERROR_SUCCESS},
};

TEST(ProfileRead, FollowsWin32Rules) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    for (size_t i = 0; i < std::size(kReadCases); ++i) {
        const ReadCase& c = kReadCases[i];
        SCOPED_TRACE("read case " + std::to_string(i));
        unlink(sPath.c_str());
        if (c.sFile.data() != nullptr) WriteRaw(sPath, c.sFile);
        char buffer[80];
        memset(buffer, '#', sizeof buffer);
        SetLastError(kUntouched);
        EXPECT_EQ(GetPrivateProfileStringA(c.pszSection, c.pszKey, c.pszDefault, buffer, c.nSize, kIni),
                  c.dwReturn);
        EXPECT_EQ(GetLastError(), c.dwError);
        EXPECT_EQ(std::string_view(buffer, c.sExpected.size()), c.sExpected);
        EXPECT_EQ(std::string(buffer + c.nSize, sizeof buffer - c.nSize),
                  std::string(sizeof buffer - c.nSize, '#'));
    }
}

TEST(ProfileRead, LongLinesAreCutToTheBuffer) {
    WriteRaw(UseFreshEnvironment() + "/" + kIni, "[s]\r\nk=" + std::string(1 << 20, 'y'));
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "", buffer, sizeof buffer, kIni), 15u);
    EXPECT_EQ(std::string(buffer), std::string(15, 'y'));
}

struct IntCase {
    const char* pszValue;  // nullptr: no such key
    INT nDefault;
    UINT uExpected;
};

const IntCase kIntCases[] = {
    {"12abc", 7, 12},
    {"-5", 7, static_cast<UINT>(-5)},
    {"+7", 0, 7},
    {"abc", 7, 0},
    {"0x10", 7, 16},
    {"0b101", 7, 5},
    {"\"42\"", 7, 42},
    {"  9 ", 7, 9},
    {"4294967297", 7, 1},
    {"", 7, 7},
    {nullptr, -3, static_cast<UINT>(-3)},
};

TEST(ProfileInt, ConvertsLikeWin32) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    for (const IntCase& c : kIntCases) {
        SCOPED_TRACE(c.pszValue != nullptr ? c.pszValue : "(none)");
        WriteRaw(sPath, c.pszValue != nullptr ? "[i]\r\nv=" + std::string(c.pszValue) + "\r\n" : "[i]\r\n");
        EXPECT_EQ(GetPrivateProfileIntA("i", "v", c.nDefault, kIni), c.uExpected);
    }
}

struct WriteOp {
    const char* pszSection;
    const char* pszKey;
    const char* pszValue;
};

struct WriteCase {
    std::string_view sBefore;  // data() == nullptr: no file
    std::vector<WriteOp> ops;
    std::string_view sAfter;  // data() == nullptr: still no file
};

const WriteCase kWriteCases[] = {
    {{}, {{"S", "k", "v"}}, "[S]\r\nk=v\r\n"sv},
    {{}, {{"A", "k1", "v1"}, {"B", "k2", "v2"}}, "[A]\r\nk1=v1\r\n[B]\r\nk2=v2\r\n"sv},
    {"; top\n[a]\nx=1\n\n[b]\ny=2\n"sv, {{"a", "z", "3"}}, "; top\n[a]\nx=1\nz=3\r\n\n[b]\ny=2\n"sv},
    {"[a]\nx = 1\ny=2\n"sv, {{"A", " X ", "  9 "}}, "[a]\nx=9 \r\ny=2\n"sv},
    {"[a]\nx = 1\n"sv, {{"a", "X", "1"}}, "[a]\nx = 1\n"sv},
    {"[a]\r\nx=1\r\ny=2\r\n"sv, {{"a", "X", nullptr}}, "[a]\r\ny=2\r\n"sv},
    {"[a]\r\nx=1\r\n; c\r\n[b]\r\ny=2\r\n"sv, {{"A", nullptr, nullptr}}, "[b]\r\ny=2\r\n"sv},
    {"[Main]\r\n"sv, {{"MAIN", "k", "v"}}, "[Main]\r\nk=v\r\n"sv},
    {"[a]\nx=1"sv, {{"a", "y", "2"}}, "[a]\nx=1\r\ny=2\r\n"sv},
    {"x=1\n[a]\n"sv, {{"a", "x", "2"}}, "x=1\n[a]\nx=2\r\n"sv},
    {"junk\0\x01"sv, {{"s", "k", "v"}}, "junk\0\x01\r\n[s]\r\nk=v\r\n"sv},
    {{}, {{"a", "x", nullptr}, {"a", nullptr, nullptr}}, {}},
};

TEST(ProfileWrite, EditsTheTextInPlace) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    for (size_t i = 0; i < std::size(kWriteCases); ++i) {
        const WriteCase& c = kWriteCases[i];
        SCOPED_TRACE("write case " + std::to_string(i));
        unlink(sPath.c_str());
        if (c.sBefore.data() != nullptr) WriteRaw(sPath, c.sBefore);
        for (const WriteOp& op : c.ops)
            EXPECT_TRUE(WritePrivateProfileStringA(op.pszSection, op.pszKey, op.pszValue, kIni));
        const std::optional<std::string> sExpected =
            c.sAfter.data() != nullptr ? std::optional<std::string>(c.sAfter) : std::nullopt;
        EXPECT_EQ(ReadRaw(sPath), sExpected);
    }
}

struct WriteErrorCase {
    const char* pszSection;
    const char* pszKey;
    const char* pszValue;
    const char* pszFile;  // one with '/' is taken inside the test's directory
    BOOL bResult;
    DWORD dwError;
};

const WriteErrorCase kWriteErrorCases[] = {
    {nullptr, "k", "v", kIni, FALSE, ERROR_INVALID_PARAMETER},
    {nullptr, nullptr, nullptr, kIni, TRUE, kUntouched},
    {"s", "k", "a\r\nb=c", kIni, FALSE, ERROR_INVALID_PARAMETER},
    {"s", "k=x", "v", kIni, FALSE, ERROR_INVALID_PARAMETER},
    {"s", "k", "v", "no/such/T.INI", FALSE, ERROR_PATH_NOT_FOUND},
    {"s", "k", "v", "", FALSE, ERROR_ACCESS_DENIED},
};

TEST(ProfileWrite, RefusesBadArgumentsAndWritesNothing) {
    const std::string sDir = UseFreshEnvironment();
    for (const WriteErrorCase& c : kWriteErrorCases) {
        SCOPED_TRACE(c.pszFile);
        const std::string sFile = strchr(c.pszFile, '/') != nullptr ? sDir + "/" + c.pszFile : c.pszFile;
        SetLastError(kUntouched);
        EXPECT_EQ(WritePrivateProfileStringA(c.pszSection, c.pszKey, c.pszValue, sFile.c_str()), c.bResult);
        EXPECT_EQ(GetLastError(), c.dwError);
        EXPECT_TRUE(DirectoryEntries(sDir).empty());
    }
    SetLastError(kUntouched);
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", nullptr, 8, kIni), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetPrivateProfileIntA("s", nullptr, 5, kIni), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ProfileLocation, BareNamesLiveInTheWindowsDirectory) {
    const std::string sBase = UseFreshEnvironment();
    const std::string sSavedHome = getenv("HOME") != nullptr ? getenv("HOME") : "";
    struct Row {
        const char* pszWindir;  // nullptr: unset; all relative to the test's directory
        const char* pszConfig;
        const char* pszHome;
        const char* pszExpectedDir;
    } const rows[] = {
        {"/w", "/x", "/h", "/w"},
        {"", "/x", "/h", "/x/linkbay"},
        {nullptr, nullptr, "/h", "/h/.config/linkbay"},
    };
    mkdir((sBase + "/w").c_str(), 0700);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszExpectedDir);
        for (auto [pszName, pszValue] :
             {std::pair{"LINKBAY_WINDIR", row.pszWindir}, std::pair{"XDG_CONFIG_HOME", row.pszConfig},
              std::pair{"HOME", row.pszHome}}) {
            if (pszValue == nullptr)
                unsetenv(pszName);
            else
                setenv(pszName, *pszValue != '\0' ? (sBase + pszValue).c_str() : "", 1);
        }
        EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "v", "LOC.INI"));
        EXPECT_EQ(ReadRaw(sBase + row.pszExpectedDir + "/LOC.INI"),
                  std::optional<std::string>("[s]\r\nk=v\r\n"));
    }
    setenv("HOME", sSavedHome.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("LINKBAY_WINDIR", sBase.c_str(), 1);
}

TEST(ProfileWrite, KeepsTheFileModeAndLeavesNoTemporaries) {
    const std::string sDir = UseFreshEnvironment();
    struct stat info {};
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "1", kIni));
    ASSERT_EQ(stat((sDir + "/" + kIni).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    chmod((sDir + "/" + kIni).c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "2", kIni));
    ASSERT_EQ(stat((sDir + "/" + kIni).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(DirectoryEntries(sDir), std::vector<std::string>{kIni});
}

TEST(ProfileWrite, ThreadsDoNotLoseEachOthersKeys) {
    UseFreshEnvironment();
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kKeysEach; ++i)
                WritePrivateProfileStringA("s", ("k" + std::to_string(t * kKeysEach + i)).c_str(), "1", kIni);
        });
    for (std::thread& thread : threads) thread.join();
    for (int k = 0; k < kThreads * kKeysEach; ++k)
        EXPECT_EQ(GetPrivateProfileIntA("s", ("k" + std::to_string(k)).c_str(), 0, kIni), 1u) << k;
}

// The helper writes k0..k3 round after round with values "<round>:<fill>:<round>";
// whatever moment it dies at, each value is whole, and the keys hold round r
// up to some key and r - 1 after it.
void ExpectWholeRounds(const char* pszFile, size_t cchFill) {
    std::vector<long> rounds;
    for (int k = 0; k < 4; ++k) {
        std::string sValue(cchFill + 64, '\0');
        const DWORD cch = GetPrivateProfileStringA("S", ("k" + std::to_string(k)).c_str(), "", sValue.data(),
                                                   static_cast<DWORD>(sValue.size()), pszFile);
        sValue.resize(cch);
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

TEST(ProfileAtomicWrite, KilledWriterLeavesOldOrNewFile) {
    const std::string sDir = UseFreshEnvironment();
    constexpr const char* kFill = "3000";
    const std::string sInitial = "0:" + std::string(3000, 'x') + ":0";
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(
            WritePrivateProfileStringA("S", ("k" + std::to_string(k)).c_str(), sInitial.c_str(), kIni));
    for (const int nDelayUs : {0, 200, 700, 1500, 4000, 9000}) {
        SCOPED_TRACE("killed after " + std::to_string(nDelayUs) + " us");
        ChildProcess writer({"profile-write-loop", kIni, "S", kFill});
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
}

}  // namespace
}  // namespace test
}  // namespace linkbay
