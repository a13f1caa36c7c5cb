// Takes each input as DETHUB.INI, a file users edit by hand, and reads it the
// ways the add-in does, with names found in the text and the add-in's own,
// through buffer sizes that cut every result. A full read is the reference:
// a cut one must be its prefix by the truncation rules, every call stays
// inside guard bytes, and one key from the text is written and read back.
// The text is parsed in memory by the index the profile calls answer from,
// so no file is written or read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/profile_index.h"

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

using linkbay::platform::posix::ProfileIndex;

// libFuzzer runs no exit handlers after a crash.
void Require(bool bCondition, int nLine = __builtin_LINE()) {
    if (bCondition) return;
    fprintf(stderr, "profile_fuzz: the check on line %d failed\n", nLine);
    __builtin_trap();
}

// ----- One call into guarded memory ---------------------------------------

struct Result {
    DWORD dwReturn;
    DWORD dwError;
    std::string sBytes;  // the cch bytes the call was given
};

// Into *pResult, whose buffer a loop of reads reuses: allocations would
// otherwise take much of an input's time.
void Read(const ProfileIndex& profile, const char* pszSection, const char* pszKey, const char* pszDefault, DWORD cch,
          Result* pResult) {
    static const std::string sGuard(kGuard, kUnwritten);
    static std::vector<char> block;
    block.assign(kGuard + cch + kGuard, kUnwritten);
    pResult->dwError = 0xdeadbeef;
    pResult->dwReturn = profile.ReadString(pszSection, pszKey, pszDefault, block.data() + kGuard, cch, ERROR_SUCCESS,
                                           &pResult->dwError);
    Require(memcmp(block.data(), sGuard.data(), kGuard) == 0);
    Require(memcmp(block.data() + kGuard + cch, sGuard.data(), kGuard) == 0);
    pResult->sBytes.assign(block.data() + kGuard, cch);
}

Result Read(const ProfileIndex& profile, const char* pszSection, const char* pszKey, const char* pszDefault,
            DWORD cch) {
    Result result;
    Read(profile, pszSection, pszKey, pszDefault, cch, &result);
    return result;
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
    const auto quotedAt = [value](std::string_view in, size_t at) {
        return at > 0 && at + value.size() < in.size() && (in[at - 1] == '"' || in[at - 1] == '\'') &&
               in[at + value.size()] == in[at - 1];
    };
    for (size_t at = text.find(value); at != std::string_view::npos; at = text.find(value, at + 1))
        if (quotedAt(text, at)) return true;
    return quotedAt(AsView(pszDefault), 1) && AsView(pszDefault).substr(1, value.size()) == value;
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
void CheckValueRead(const ProfileIndex& profile, const char* pszSection, const char* pszKey,
                    const char* pszDefault, const Result& full, DWORD cchFull, bool bSurelyQuoted) {
    const DWORD cchValue = full.dwReturn;
    Require(cchValue < cchFull && full.sBytes[cchValue] == '\0');
    Require(std::memchr(full.sBytes.data(), '\0', cchValue) == nullptr);
    const std::string_view value(full.sBytes.data(), cchValue);
    const bool bQuoted = bSurelyQuoted || MayHaveBeenQuoted(value, profile.text(), pszDefault);
    Result cut;
    for (DWORD cch : SizesAround(cchValue, cchFull)) {
        Read(profile, pszSection, pszKey, pszDefault, cch, &cut);
        CheckCutValue(full, cut, cch, bQuoted, bSurelyQuoted);
    }
}

// Numbers go through a 30-character read; an empty one gives the default.
void CheckInt(const ProfileIndex& profile, const char* pszSection, const char* pszKey) {
    const Result value = Read(profile, pszSection, pszKey, "", 30);
    UINT uFirst = 0;
    for (size_t i = 0; i < std::size(kIntDefaults); ++i) {
        DWORD dwError = 0;
        const UINT u = profile.ReadInt(pszSection, pszKey, kIntDefaults[i], ERROR_SUCCESS, &dwError);
        Require(dwError == value.dwError);
        if (value.dwReturn == 0) Require(u == static_cast<UINT>(kIntDefaults[i]));
        if (i == 0) uFirst = u;
        Require(u == uFirst || value.dwReturn == 0);
    }
}

void CheckKey(const ProfileIndex& profile, const char* pszSection, const char* pszKey, size_t nRow) {
    const char* pszDefault = kValueDefaults[nRow % std::size(kValueDefaults)];
    const DWORD cchFull = FullSize(profile.text(), pszDefault);
    const Result full = Read(profile, pszSection, pszKey, pszDefault, cchFull);
    CheckValueRead(profile, pszSection, pszKey, pszDefault, full, cchFull, false);
    CheckInt(profile, pszSection, pszKey);
}

// ----- Lists of names -------------------------------------------------------

// Non-empty names, each with its NUL, and one more NUL; the return counts all
// but the last. A list that does not fit, even by its last NUL, is cut to
// cch - 2 bytes and two NULs and returns cch - 2.
void CheckList(const ProfileIndex& profile, const char* pszSection, const Result& full, DWORD cchFull) {
    const DWORD cchList = full.dwReturn;
    Require(cchList + 1 < cchFull && full.sBytes[cchList] == '\0');
    if (cchList > 0) {
        Require(full.sBytes[0] != '\0');
        Require(std::string_view(full.sBytes.data(), cchList + 1).find(std::string_view("\0\0", 2)) ==
                cchList - 1);
    }
    Result cut;
    for (DWORD cch : SizesAround(cchList + 1, cchFull)) {
        Read(profile, pszSection, nullptr, kListDefault, cch, &cut);
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

void CheckSectionList(const ProfileIndex& profile) {
    const DWORD cchFull = FullSize(profile.text(), kListDefault);
    CheckList(profile, nullptr, Read(profile, nullptr, nullptr, kListDefault, cchFull), cchFull);
}

// A section without keys gives the default instead.
void CheckKeyList(const ProfileIndex& profile, const char* pszSection) {
    const DWORD cchFull = FullSize(profile.text(), kListDefault);
    const Result full = Read(profile, pszSection, nullptr, kListDefault, cchFull);
    if (std::string_view(full.sBytes.data(), full.dwReturn).find('=') == std::string_view::npos) {
        CheckList(profile, pszSection, full, cchFull);
        return;
    }
    Require(std::string_view(full.sBytes.data(), full.dwReturn) == kListDefaultRead);
    CheckValueRead(profile, pszSection, nullptr, kListDefault, full, cchFull, true);
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
std::string ListOf(const ProfileIndex& profile, const char* pszSection) {
    const Result r = Read(profile, pszSection, nullptr, kListDefault, FullSize(profile.text(), kListDefault));
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
// refusal is for a key that would read as another line.
void CheckWriteBack(const ProfileIndex& profile, const std::string& sSection, const std::string& sKey,
                    const std::string& sValue) {
    if (HasBlankEnds(sSection) || HasBlankEnds(sKey) || HasBlankEnds(sValue) || IsQuoted(sValue) ||
        sKey.find('=') != std::string::npos)
        return;
    const char* pszSection = sSection.c_str();
    if (linkbay::platform::posix::CheckProfileWrite(pszSection, sKey.c_str(), sValue.c_str()) != ERROR_SUCCESS) {
        Require(ReadsAsAnotherLine(sKey));
        return;
    }
    const ProfileIndex written(profile.Edited(pszSection, sKey.c_str(), sValue.c_str()));
    const Result back = Read(written, pszSection, sKey.c_str(), "", FullSize(written.text(), ""));
    Require(back.dwError == ERROR_SUCCESS && std::string_view(back.sBytes.data(), back.dwReturn) == sValue);
    Require(ListWithout(ListOf(written, nullptr), sSection) == ListWithout(ListOf(profile, nullptr), sSection));
    Require(ListWithout(ListOf(written, pszSection), sKey) == ListWithout(ListOf(profile, pszSection), sKey));
}

// ----- The whole input ----------------------------------------------------

// The calls refuse a buffer they cannot end with a NUL before they look for
// the file, whatever it holds.
void CheckBadBuffers() {
    char szGuard[kGuard];
    memset(szGuard, kUnwritten, sizeof szGuard);
    SetLastError(0xdeadbeef);
    Require(GetPrivateProfileStringA("CONFIG", "COM1", "dflt", szGuard, 0, kFile) == 0);
    Require(GetLastError() == ERROR_INVALID_PARAMETER && szGuard[0] == kUnwritten);
    Require(GetPrivateProfileStringA(nullptr, nullptr, "", nullptr, 64, kFile) == 0);
}

void CheckProfile(const ProfileIndex& profile) {
    static const char* const kAddinKeys[] = {"COMMCBS", "ComLib", "COM1"};
    Names names = NamesIn(profile.text());
    CheckSectionList(profile);
    for (const char* pszKey : kAddinKeys) CheckKey(profile, "CONFIG", pszKey, names.keys.size());
    names.sections.insert(names.sections.end(), {"CONFIG", "M97S01"});
    size_t nRow = 0;
    for (const std::string& sSection : names.sections) {
        CheckKeyList(profile, sSection.c_str());
        for (const std::string& sKey : names.keys) CheckKey(profile, sSection.c_str(), sKey.c_str(), nRow++);
    }
    if (!names.keys.empty())
        CheckWriteBack(profile, CString(names.sections.front()), CString(names.keys.back()),
                       CString(names.values.back()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool s_bBuffersChecked = (CheckBadBuffers(), true);
    (void)s_bBuffersChecked;
    CheckProfile(ProfileIndex(std::string(reinterpret_cast<const char*>(data), size)));
    return 0;
}
