// Profile files: reads, writes and their Win32 quirks, checked byte for byte
// against Win32 (the Windows build runs them under Wine). They name files by
// path: bare names live in the Windows directory, which only the POSIX layer
// lets a test choose (profile_posix_test.cpp).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "support/file_text.h"
#include "support/test_env.h"

using namespace std::string_view_literals;

namespace linkbay {
namespace test {
namespace {

constexpr const char* kIni = "T.INI";
constexpr DWORD kUntouched = 0xdeadbeef;

constexpr std::string_view kMain =
    "; settings\r\n[Main]\r\n  Name = Value  \r\nquoted=\"a b\"\r\nsingle='x'\r\nmixed=\"abc'\r\n"
    "empty=\r\nnovalue\r\n\r\n[ Other ]\nk=v\n"sv;
const std::string kLongLine = "[s]\r\nk=" + std::string(1 << 20, 'y');
// Binary bytes, NULs, a '[' without ']', a lone CR as line end, no final line end.
constexpr std::string_view kBroken =
    "\x01\xff[bad\r\n[Sec]\r\nk\0ey=1\r\nkey=va\0lue\r\n[open\r\nz=9\rlast=1"sv;

// Leaves the file with the text given, or none where text.data() is null.
void PrepareFile(const std::string& sPath, std::string_view text) {
    unlink(sPath.c_str());
    if (text.data() != nullptr) WriteRaw(sPath, text);
}

struct ReadCase {
    std::string_view sFile;
    const char *pszSection, *pszKey, *pszDefault;
    DWORD nSize;
    std::string_view sExpected;  // the bytes written, NULs included
    DWORD dwReturn, dwError;
    Holds holds = Holds::Everywhere;
};

// Rows marked NotUnderWine are where Wine's profile code is not Windows: it
// leaves the last error alone when it returns the default for a missing key
// or section and when the buffer has no room at all; it ends a cut list of
// names with one NUL where Windows writes two; and it files keys above
// the first section header under the section named "".

const ReadCase kReadCases[] = {
    {{}, "Main", "Name", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND},
    {kMain, "Nope", "Name", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {kMain, "Main", "nokey", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {kMain, "Main", "nokey", nullptr, 64, "\0"sv, 0, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {kMain, "Main", "nokey", "d e  ", 64, "d e\0"sv, 3, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {kMain, "Main", "novalue", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {kMain, "MAIN", " name ", "", 64, "Value\0"sv, 5, ERROR_SUCCESS},
    {kMain, "other", "K", "", 64, "v\0"sv, 1, ERROR_SUCCESS},
    {kMain, "Main", "empty", "dflt", 64, "\0"sv, 0, ERROR_SUCCESS},
    {kMain, "Main", "quoted", "", 64, "a b\0"sv, 3, ERROR_SUCCESS},
    {kMain, "Main", "single", "", 64, "x\0"sv, 1, ERROR_SUCCESS},
    {kMain, "Main", "mixed", "", 64, "\"abc'\0"sv, 5, ERROR_SUCCESS},
    {kMain, "Main", "quoted", "", 5, "a b\0"sv, 3, ERROR_SUCCESS},
    {kMain, "Main", "quoted", "", 4, "a \0"sv, 2, ERROR_SUCCESS},  // the closing quote's place is lost too
    {kMain, "Main", "Name", "", 6, "Value\0"sv, 5, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 5, "Valu\0"sv, 4, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 1, "\0"sv, 0, ERROR_SUCCESS},
    {kMain, "Main", "Name", "", 0, ""sv, 0, ERROR_INVALID_PARAMETER, Holds::NotUnderWine},
    {kMain, nullptr, "Name", "dflt", 64, "Main\0Other\0\0"sv, 11, ERROR_SUCCESS},
    {kMain, nullptr, nullptr, "", 12, "Main\0Other\0\0"sv, 10, ERROR_SUCCESS, Holds::NotUnderWine},
    {kMain, nullptr, nullptr, "", 8, "Main\0O\0\0"sv, 6, ERROR_SUCCESS, Holds::NotUnderWine},
    {kMain, nullptr, nullptr, "", 1, "\0"sv, 0, ERROR_SUCCESS},
    {kMain, "Main", nullptr, "", 64, "Name\0quoted\0single\0mixed\0empty\0\0"sv, 31, ERROR_SUCCESS},
    {kMain, "Main", nullptr, "", 10, "Name\0quo\0\0"sv, 8, ERROR_SUCCESS, Holds::NotUnderWine},
    {kMain, "Nope", nullptr, "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {{}, nullptr, nullptr, "", 64, "\0"sv, 0, ERROR_FILE_NOT_FOUND},
    {kBroken, "sec", "key", "", 64, "va\0"sv, 2, ERROR_SUCCESS},
    {kBroken, "Sec", "k", "", 64, "1\0"sv, 1, ERROR_SUCCESS},
    {kBroken, "Sec", "z", "", 64, "9\0"sv, 1, ERROR_SUCCESS},
    {kBroken, "Sec", "last", "", 64, "1\0"sv, 1, ERROR_SUCCESS},
    {kBroken, "Sec", "[open", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {kBroken, "Sec", nullptr, "", 64, "k\0key\0z\0last\0\0"sv, 13, ERROR_SUCCESS},
    {kBroken, nullptr, nullptr, "", 64, "Sec\0\0"sv, 4, ERROR_SUCCESS},
    {""sv, "a", "b", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {"x=1\r\n[]\r\nx=2\r\n"sv, "", "x", "", 64, "2\0"sv, 1, ERROR_SUCCESS, Holds::NotUnderWine},
    {"x=1\r\n[s]\r\n"sv, "", "x", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {"[s]\na=1\n[S]\nb=2\n"sv, "S", "b", "dflt", 64, "dflt\0"sv, 4, ERROR_FILE_NOT_FOUND, Holds::NotUnderWine},
    {"\xEF\xBB\xBF[s]\nk=1\n"sv, "s", "k", "", 64, "1\0"sv, 1, ERROR_SUCCESS},
    {kLongLine, "s", "k", "", 16, "yyyyyyyyyyyyyyy\0"sv, 15, ERROR_SUCCESS},
};

TEST(ProfileRead, FollowsWin32Rules) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    const char* pszIni = sPath.c_str();
    for (size_t i = 0; i < std::size(kReadCases); ++i) {
        const ReadCase& c = kReadCases[i];
        SCOPED_TRACE("read case " + std::to_string(i));
        if (!Applies(c.holds)) continue;
        PrepareFile(sPath, c.sFile);
        std::string buffer(80, '#');  // nothing past the size given may change
        SetLastError(kUntouched);
        EXPECT_EQ(GetPrivateProfileStringA(c.pszSection, c.pszKey, c.pszDefault, buffer.data(), c.nSize, pszIni),
                  c.dwReturn);
        EXPECT_EQ(GetLastError(), c.dwError);
        EXPECT_EQ(std::string_view(buffer.data(), c.sExpected.size()), c.sExpected);
        EXPECT_EQ(buffer.substr(c.nSize), std::string(buffer.size() - c.nSize, '#'));
    }
}

struct IntCase { const char* pszValue; INT nDefault; UINT uExpected; };  // pszValue nullptr: no such key

const IntCase kIntCases[] = {
    {"12abc", 7, 12}, {"-5", 7, static_cast<UINT>(-5)}, {"+7", 0, 7}, {"abc", 7, 0},
    {"0x10", 7, 16}, {"0b101", 7, 5}, {"\"42\"", 7, 42}, {"  9 ", 7, 9},
    {"4294967297", 7, 1}, {"", 7, 7}, {nullptr, -3, static_cast<UINT>(-3)},
};

TEST(ProfileInt, ConvertsLikeWin32) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    for (const IntCase& c : kIntCases) {
        SCOPED_TRACE(c.pszValue != nullptr ? c.pszValue : "(none)");
        WriteRaw(sPath, c.pszValue != nullptr ? "[i]\r\nv=" + std::string(c.pszValue) + "\r\n" : "[i]\r\n");
        EXPECT_EQ(GetPrivateProfileIntA("i", "v", c.nDefault, sPath.c_str()), c.uExpected);
    }
}

struct WriteOp {
    const char *pszSection, *pszKey, *pszValue;
};

struct WriteCase {
    std::string_view sBefore;
    std::vector<WriteOp> ops;
    std::string_view sAfter;  // data() == nullptr: still no file
    // Windows edits the one line in place; Wine writes the whole file anew,
    // every line ended with CR LF and bytes it cannot read dropped.
    Holds holds = Holds::Everywhere;
};

const WriteCase kWriteCases[] = {
    {{}, {{"S", "k", "v"}}, "[S]\r\nk=v\r\n"sv},
    {{}, {{"A", "k1", "v1"}, {"B", "k2", "v2"}}, "[A]\r\nk1=v1\r\n[B]\r\nk2=v2\r\n"sv},
    {"; top\n[a]\nx=1\n\n[b]\ny=2\n"sv, {{"a", "z", "3"}}, "; top\n[a]\nx=1\nz=3\r\n\n[b]\ny=2\n"sv, Holds::NotUnderWine},
    {"[a]\nx = 1\ny=2\n"sv, {{"A", " X ", "  9 "}}, "[a]\nx=9 \r\ny=2\n"sv, Holds::NotUnderWine},
    {"[a]\nx = 1\n"sv, {{"a", "X", "1"}}, "[a]\nx = 1\n"sv},
    {"[a]\r\nx=1\r\ny=2\r\n"sv, {{"a", "X", nullptr}}, "[a]\r\ny=2\r\n"sv},
    {"[a]\r\nx=1\r\n; c\r\n[b]\r\ny=2\r\n"sv, {{"A", nullptr, nullptr}}, "[b]\r\ny=2\r\n"sv},
    {"[Main]\r\n"sv, {{"MAIN", "k", "v"}}, "[Main]\r\nk=v\r\n"sv},
    {"[a]\nx=1"sv, {{"a", "y", "2"}}, "[a]\nx=1\r\ny=2\r\n"sv, Holds::NotUnderWine},
    {"x=1\n[a]\n"sv, {{"a", "x", "2"}}, "x=1\n[a]\nx=2\r\n"sv, Holds::NotUnderWine},
    {"junk\0\x01"sv, {{"s", "k", "v"}}, "junk\0\x01\r\n[s]\r\nk=v\r\n"sv, Holds::NotUnderWine},
    {{}, {{"a", "x", nullptr}, {"a", nullptr, nullptr}}, {}},
};

TEST(ProfileWrite, EditsTheTextInPlace) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    for (size_t i = 0; i < std::size(kWriteCases); ++i) {
        const WriteCase& c = kWriteCases[i];
        SCOPED_TRACE("write case " + std::to_string(i));
        if (!Applies(c.holds)) continue;
        PrepareFile(sPath, c.sBefore);
        for (const WriteOp& op : c.ops)
            EXPECT_TRUE(WritePrivateProfileStringA(op.pszSection, op.pszKey, op.pszValue, sPath.c_str()));
        EXPECT_EQ(ReadRaw(sPath), c.sAfter.data() != nullptr ? std::optional<std::string>(c.sAfter) : std::nullopt);
    }
}

struct WriteErrorCase {
    const char *pszSection, *pszKey, *pszValue;
    const char* pszFile;  // taken inside the test's directory, unless empty
    BOOL bResult;
    DWORD dwError;
    // Win32 writes a line break in a value, or a key with '=' or one that
    // makes a comment or a section header of its line, as they come, leaving
    // a file that reads back differently; the POSIX layer refuses them. Wine
    // reports a key without a section as a missing file, and fails the flush
    // of a file it never read.
    Holds holds = Holds::Everywhere;
};

const WriteErrorCase kWriteErrorCases[] = {
    {nullptr, "k", "v", kIni, FALSE, ERROR_INVALID_PARAMETER, Holds::NotUnderWine},
    {nullptr, nullptr, nullptr, kIni, TRUE, kUntouched, Holds::NotUnderWine},
    {"s", "k", "a\r\nb=c", kIni, FALSE, ERROR_INVALID_PARAMETER, Holds::OnPosixLayerOnly},
    {"s", "k=x", "v", kIni, FALSE, ERROR_INVALID_PARAMETER, Holds::OnPosixLayerOnly},
    {"s", "[]", "", kIni, FALSE, ERROR_INVALID_PARAMETER, Holds::OnPosixLayerOnly},  // "[]=" is a header
    {"s", " [k", "v]", kIni, FALSE, ERROR_INVALID_PARAMETER, Holds::OnPosixLayerOnly},
    {"s", ";k", "v", kIni, FALSE, ERROR_INVALID_PARAMETER, Holds::OnPosixLayerOnly},
    {"s", "k", "v", "no/such/T.INI", FALSE, ERROR_PATH_NOT_FOUND},
    {"s", "k", "v", "", FALSE, ERROR_ACCESS_DENIED},
};

TEST(ProfileWrite, RefusesBadArgumentsAndWritesNothing) {
    const std::string sDir = UseFreshEnvironment();
    for (const WriteErrorCase& c : kWriteErrorCases) {
        SCOPED_TRACE(c.pszFile);
        if (!Applies(c.holds)) continue;
        const std::string sFile = *c.pszFile != '\0' ? sDir + "/" + c.pszFile : c.pszFile;
        SetLastError(kUntouched);
        EXPECT_EQ(WritePrivateProfileStringA(c.pszSection, c.pszKey, c.pszValue, sFile.c_str()), c.bResult);
        EXPECT_EQ(GetLastError(), c.dwError);
        EXPECT_TRUE(DirectoryEntries(sDir).empty());
    }
    if (!Applies(Holds::NotUnderWine)) return;  // Wine leaves these errors unset or as "not found"
    SetLastError(kUntouched);
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", nullptr, 8, kIni), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetPrivateProfileIntA("s", nullptr, 5, kIni), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ProfileWrite, ThreadsDoNotLoseEachOthersKeys) {
    const std::string sPath = UseFreshEnvironment() + "/" + kIni;
    const auto keyName = [](int k) { return "k" + std::to_string(k); };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int k = t * 20; k < t * 20 + 20; ++k)
                WritePrivateProfileStringA("s", keyName(k).c_str(), "1", sPath.c_str());
        });
    for (std::thread& thread : threads) thread.join();
    for (int k = 0; k < 80; ++k) EXPECT_EQ(GetPrivateProfileIntA("s", keyName(k).c_str(), 0, sPath.c_str()), 1u) << k;
}

}  // namespace
}  // namespace test
}  // namespace linkbay
