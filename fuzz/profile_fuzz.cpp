// Takes each input as DETHUB.INI, a file users edit by hand, and reads it the
// ways the add-in does, with names found in the text and the add-in's own,
// through buffer sizes that cut every result. A full read is the reference:
// a cut one must be its prefix by the truncation rules, every call stays
// inside guard bytes, and one key from the text is written and read back.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr const char* kFile = "DETHUB.INI";
constexpr size_t kGuard = 16;
constexpr char kUnwritten = '\xA5';
constexpr size_t kMaxNamesFromText = 2;
constexpr DWORD kFixedSizes[] = {1, 2, 3, 4, 30};
// Quoted, with a '=' that no listed key name can hold, so that a key list
// and this default are told apart.
constexpr const char* kListDefault = "'k=v'  ";
constexpr std::string_view kListDefaultRead = "k=v";
constexpr const char* kValueDefaults[] = {nullptr, "", "dflt", "\"d=1\"", "x  ", "''"};
constexpr INT kIntDefaults[] = {-7, 0x5eed};

std::string_view AsView(const char* psz) { return psz != nullptr ? psz : ""; }

// ----- The Windows directory ----------------------------------------------

std::string g_sDir;  // made for this process

void RemoveDirectory() {
    std::error_code error;
    std::filesystem::remove_all(g_sDir, error);
}

std::optional<std::string> ReadWhole(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// libFuzzer runs no exit handlers after a crash.
void Require(bool bCondition, int nLine = __builtin_LINE()) {
    if (bCondition) return;
    fprintf(stderr, "profile_fuzz: the check on line %d failed\n", nLine);
    RemoveDirectory();
    __builtin_trap();
}

// tmpfs when there is one: every write reaches the disk with fsync.
void MakeDirectory() {
    for (const char* pszBase : {"/dev/shm", "/tmp"}) {
        std::string sTemplate = std::string(pszBase) + "/profile_fuzz.XXXXXX";
        if (mkdtemp(sTemplate.data()) != nullptr) {
            g_sDir = sTemplate;
            setenv("LINKBAY_WINDIR", g_sDir.c_str(), 1);
            atexit(RemoveDirectory);
            return;
        }
    }
    Require(false);
}

std::string FilePath() { return g_sDir + "/" + kFile; }

// ----- One call into guarded memory ---------------------------------------

struct Result {
    DWORD dwReturn;
    DWORD dwError;
    std::string sBytes;  // the cch bytes the call was given
};

Result Read(const char* pszSection, const char* pszKey, const char* pszDefault, DWORD cch) {
    std::vector<char> block(kGuard + cch + kGuard, kUnwritten);
    SetLastError(0xdeadbeef);
    const DWORD dwReturn =
        GetPrivateProfileStringA(pszSection, pszKey, pszDefault, block.data() + kGuard, cch, kFile);
    const DWORD dwError = GetLastError();
    Require(std::all_of(block.begin(), block.begin() + kGuard, [](char c) { return c == kUnwritten; }));
    Require(std::all_of(block.end() - kGuard, block.end(), [](char c) { return c == kUnwritten; }));
    return {dwReturn, dwError, std::string(block.data() + kGuard, cch)};
}

// The size that cuts nothing: no result is longer than the file or the default.
DWORD FullSize(std::string_view text, const char* pszDefault) {
    return static_cast<DWORD>(text.size() + AsView(pszDefault).size() + 8);
}

// The fixed small sizes and those around the full result's length.
std::vector<DWORD> SizesAround(DWORD cchResult, DWORD cchFull) {
    std::vector<DWORD> sizes(std::begin(kFixedSizes), std::end(kFixedSizes));
    for (DWORD cch = cchResult > 1 ? cchResult - 1 : 1; cch <= cchResult + 2; ++cch) sizes.push_back(cch);
    sizes.erase(std::remove_if(sizes.begin(), sizes.end(), [&](DWORD cch) { return cch >= cchFull; }),
                sizes.end());
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

// ----- Values ---------------------------------------------------------------

// A quoted value loses one more character when the buffer is one longer than
// the value read; only a value that stood between quotes may do so.
bool MayHaveBeenQuoted(std::string_view value, std::string_view text, const char* pszDefault) {
    for (const char* pszQuote : {"\"", "'"}) {
        const std::string sQuoted = pszQuote + std::string(value) + pszQuote;
        if (text.find(sQuoted) != std::string_view::npos || AsView(pszDefault).find(sQuoted) == 0)
            return true;
    }
    return false;
}

void CheckCutValue(const Result& full, const Result& cut, DWORD cch, bool bQuoted, bool bSurelyQuoted) {
    const DWORD cchValue = full.dwReturn;
    const DWORD cchFit = std::min(cchValue, cch - 1);
    const bool bLosesOne = cchValue > 0 && cch == cchValue + 1;
    if (bSurelyQuoted && bLosesOne)
        Require(cut.dwReturn == cchValue - 1);
    else
        Require(cut.dwReturn == cchFit || (bQuoted && bLosesOne && cut.dwReturn == cchValue - 1));
    Require(cut.dwError == full.dwError);
    Require(cut.sBytes.compare(0, cut.dwReturn, full.sBytes, 0, cut.dwReturn) == 0);
    Require(cut.sBytes[cut.dwReturn] == '\0');
}

// A value, the key's or the default, ends at the returned length; cut, it
// keeps its start.
void CheckValueRead(std::string_view text, const char* pszSection, const char* pszKey, const char* pszDefault,
                    const Result& full, DWORD cchFull, bool bSurelyQuoted) {
    const DWORD cchValue = full.dwReturn;
    Require(cchValue < cchFull && full.sBytes[cchValue] == '\0');
    Require(std::memchr(full.sBytes.data(), '\0', cchValue) == nullptr);
    const std::string_view value(full.sBytes.data(), cchValue);
    const bool bQuoted = bSurelyQuoted || MayHaveBeenQuoted(value, text, pszDefault);
    for (DWORD cch : SizesAround(cchValue, cchFull))
        CheckCutValue(full, Read(pszSection, pszKey, pszDefault, cch), cch, bQuoted, bSurelyQuoted);
}

// Numbers go through a 30-character read; an empty one gives the default.
void CheckInt(const char* pszSection, const char* pszKey) {
    const Result value = Read(pszSection, pszKey, "", 30);
    UINT uFirst = 0;
    for (size_t i = 0; i < std::size(kIntDefaults); ++i) {
        const UINT u = GetPrivateProfileIntA(pszSection, pszKey, kIntDefaults[i], kFile);
        if (value.dwReturn == 0) Require(u == static_cast<UINT>(kIntDefaults[i]));
        if (i == 0) uFirst = u;
        Require(u == uFirst || value.dwReturn == 0);
    }
}

void CheckKey(std::string_view text, const char* pszSection, const char* pszKey, size_t nRow) {
    const char* pszDefault = kValueDefaults[nRow % std::size(kValueDefaults)];
    const DWORD cchFull = FullSize(text, pszDefault);
    const Result full = Read(pszSection, pszKey, pszDefault, cchFull);
    CheckValueRead(text, pszSection, pszKey, pszDefault, full, cchFull, false);
    CheckInt(pszSection, pszKey);
}

// ----- Lists of names -------------------------------------------------------

// Non-empty names, each with its NUL, and one more NUL; the return counts all
// but the last. A list that does not fit, even by its last NUL, is cut to
// cch - 2 bytes and two NULs and returns cch - 2.
void CheckList(const char* pszSection, const Result& full, DWORD cchFull) {
    const DWORD cchList = full.dwReturn;
    Require(cchList + 1 < cchFull && full.sBytes[cchList] == '\0');
    if (cchList > 0) {
        Require(full.sBytes[0] != '\0');
        Require(std::string_view(full.sBytes.data(), cchList + 1).find(std::string_view("\0\0", 2)) ==
                cchList - 1);
    }
    for (DWORD cch : SizesAround(cchList + 1, cchFull)) {
        const Result cut = Read(pszSection, nullptr, kListDefault, cch);
        Require(cut.dwError == full.dwError);
        if (cchList + 1 < cch) {
            Require(cut.dwReturn == cchList);
            Require(cut.sBytes.compare(0, cchList + 1, full.sBytes, 0, cchList + 1) == 0);
        } else if (cch == 1) {
            Require(cut.dwReturn == 0 && cut.sBytes[0] == '\0');
        } else {
            Require(cut.dwReturn == cch - 2 && cut.sBytes.compare(0, cch - 2, full.sBytes, 0, cch - 2) == 0);
            Require(cut.sBytes[cch - 2] == '\0' && cut.sBytes[cch - 1] == '\0');
        }
    }
}

void CheckSectionList(std::string_view text) {
    const DWORD cchFull = FullSize(text, kListDefault);
    CheckList(nullptr, Read(nullptr, nullptr, kListDefault, cchFull), cchFull);
}

// A section without keys gives the default instead.
void CheckKeyList(std::string_view text, const char* pszSection) {
    const DWORD cchFull = FullSize(text, kListDefault);
    const Result full = Read(pszSection, nullptr, kListDefault, cchFull);
    if (std::string_view(full.sBytes.data(), full.dwReturn).find('=') == std::string_view::npos) {
        CheckList(pszSection, full, cchFull);
        return;
    }
    Require(std::string_view(full.sBytes.data(), full.dwReturn) == kListDefaultRead);
    CheckValueRead(text, pszSection, nullptr, kListDefault, full, cchFull, true);
}

// ----- Names from the text ------------------------------------------------

struct Names {
    std::vector<std::string> sections;
    std::vector<std::string> keys;
    std::vector<std::string> values;  // beside keys, "" where a line has no '='
};

bool IsBlank(char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }

// Roughly as a reader of the file would take them; whatever the layer makes
// of them, the reads must keep their contract.
Names NamesIn(std::string_view text) {
    Names names;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t brk = std::min(text.find_first_of("\r\n", pos), text.size());
        const std::string_view line = text.substr(pos, brk - pos);
        pos = text.compare(brk, 2, "\r\n") == 0 ? brk + 2 : brk + 1;
        const size_t open = line.find('[');
        const size_t equals = line.find('=');
        if (open != std::string_view::npos && names.sections.size() < kMaxNamesFromText)
            names.sections.emplace_back(line.substr(open + 1, line.rfind(']') - open - 1));
        if (names.keys.size() < kMaxNamesFromText) {
            names.keys.emplace_back(line.substr(0, equals));
            names.values.emplace_back(equals == std::string_view::npos ? "" : line.substr(equals + 1));
        }
    }
    return names;
}

// ----- Writing one key back -----------------------------------------------

bool HasBlankEnds(const std::string& s) { return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back())); }

bool IsQuoted(const std::string& s) {
    return s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
}

// What a C string holds of a name with NULs.
std::string CString(const std::string& s) { return s.c_str(); }

// Keys that a reader would take for a comment or a section header can only
// be refused.
bool ReadsAsAnotherLine(const std::string& sKey) {
    return !sKey.empty() && (sKey[0] == ';' || sKey[0] == '[');
}

// The names listed; a section without keys lists none (the default comes instead).
std::string ListOf(const char* pszSection, std::string_view text) {
    const Result r = Read(pszSection, nullptr, kListDefault, FullSize(text, kListDefault));
    const std::string sList = r.sBytes.substr(0, r.dwReturn);
    return pszSection == nullptr || sList.find('=') == std::string::npos ? sList : std::string();
}

// The names of a list but those that are sName, compared as names are (a
// key may be listed twice, and only the first of its lines is written).
std::string ListWithout(const std::string& sList, const std::string& sName) {
    std::string sRest;
    for (size_t pos = 0; pos < sList.size();) {
        const size_t end = sList.find('\0', pos);
        if (end - pos != sName.size() || strncasecmp(sList.data() + pos, sName.data(), sName.size()) != 0)
            sRest.append(sList, pos, end + 1 - pos);
        pos = end + 1;
    }
    return sRest;
}

// The value reads back, and no other section or key comes or goes; a
// refusal leaves the file as it was.
void CheckWriteBack(std::string_view text, const std::string& sSection, const std::string& sKey,
                    const std::string& sValue) {
    if (HasBlankEnds(sSection) || HasBlankEnds(sKey) || HasBlankEnds(sValue) || IsQuoted(sValue) ||
        sKey.find('=') != std::string::npos)
        return;
    const char* pszSection = sSection.c_str();
    const std::string sSectionsBefore = ListOf(nullptr, text);
    const std::string sKeysBefore = ListOf(pszSection, text);
    SetLastError(0xdeadbeef);
    if (!WritePrivateProfileStringA(pszSection, sKey.c_str(), sValue.c_str(), kFile)) {
        Require(ReadsAsAnotherLine(sKey) && GetLastError() == ERROR_INVALID_PARAMETER);
        Require(ReadWhole(FilePath()) == std::string(text));
        return;
    }
    const std::string sNewText = ReadWhole(FilePath()).value_or("");
    const Result back = Read(pszSection, sKey.c_str(), "", FullSize(sNewText, ""));
    Require(back.dwError == ERROR_SUCCESS && std::string_view(back.sBytes.data(), back.dwReturn) == sValue);
    const std::string sSectionsAfter = ListOf(nullptr, sNewText);
    Require(ListWithout(sSectionsAfter, sSection) == ListWithout(sSectionsBefore, sSection));
    Require(ListWithout(ListOf(pszSection, sNewText), sKey) == ListWithout(sKeysBefore, sKey));
}

// ----- The whole input ----------------------------------------------------

void CheckBadBuffers() {
    const Result none = Read("CONFIG", "COM1", "dflt", 0);
    Require(none.dwReturn == 0 && none.dwError == ERROR_INVALID_PARAMETER);
    Require(GetPrivateProfileStringA(nullptr, nullptr, "", nullptr, 64, kFile) == 0);
}

void CheckProfile(std::string_view text) {
    static const char* const kAddinKeys[] = {"COMMCBS", "ComLib", "COM1"};
    Names names = NamesIn(text);
    CheckBadBuffers();
    CheckSectionList(text);
    for (const char* pszKey : kAddinKeys) CheckKey(text, "CONFIG", pszKey, names.keys.size());
    names.sections.insert(names.sections.end(), {"CONFIG", "M97S01"});
    size_t nRow = 0;
    for (const std::string& sSection : names.sections) {
        CheckKeyList(text, sSection.c_str());
        for (const std::string& sKey : names.keys) CheckKey(text, sSection.c_str(), sKey.c_str(), nRow++);
    }
    if (!names.keys.empty())
        CheckWriteBack(text, CString(names.sections.front()), CString(names.keys.back()),
                       CString(names.values.back()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_sDir.empty()) MakeDirectory();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::ofstream(FilePath(), std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    CheckProfile(text);
    return 0;
}
