// Profile text with its Win32 rules. Only header and key lines are indexed;
// blank lines and comments cost nothing but their bytes. An edit splices the
// text, so comments, blank lines and lines this code does not understand
// keep their bytes and order.
#include "profile_index.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace linkbay {
namespace platform {
namespace posix {
namespace {

constexpr size_t npos = std::string::npos;
constexpr std::string_view kLineEnd = "\r\n";  // what Windows writes
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr size_t kMaxText = size_t{1} << 30;  // offsets and name sizes fit the index's fields
constexpr DWORD kIntBufferSize = 30;           // Win32 reads numbers through a buffer this long

// ----- Text --------------------------------------------------------------

// Windows counts ^Z (a DOS end of file) as white space in profile files.
bool IsProfileSpace(char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }
bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsProfileSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsProfileSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Names are compared as the caller's C strings see them: up to a NUL.
std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca != cb && !(ca < 0x80 && cb < 0x80 && tolower(ca) == tolower(cb))) return false;
    }
    return true;
}

bool HasLineBreak(const char* psz) { return psz != nullptr && strpbrk(psz, "\r\n") != nullptr; }

std::string_view AsView(const char* psz) { return psz != nullptr ? psz : ""; }

// What a line is, as Windows reads it: "[name]" up to the last ']' is a
// header, ';' starts a comment, anything else is a key, with a value after
// the first '=' if there is one. A lone '[' without ']' is therefore a key.
enum class Shape { Other, Section, Key, KeyWithValue };
struct LineShape {
    Shape shape = Shape::Other;
    std::string_view name;  // trimmed, within the line
};

LineShape ShapeOf(std::string_view content) {
    content = Trimmed(content);
    if (content.empty() || content.front() == ';') return {};
    const size_t close = content.rfind(']');
    if (content.front() == '[' && close != npos) return {Shape::Section, Trimmed(content.substr(1, close - 1))};
    const size_t equals = content.find('=');
    return {equals == npos ? Shape::Key : Shape::KeyWithValue, Trimmed(content.substr(0, equals))};
}

// A key written with a value must come back as that key: one with '=', or
// one that makes a comment or a section header of its line, would not.
bool ReadsBackAsKey(const char* pszKey, const char* pszValue) {
    const std::string_view key = Trimmed(pszKey);
    const std::string sLine = std::string(key) + "=" + std::string(AsView(pszValue));
    const LineShape line = ShapeOf(sLine);
    return line.shape == Shape::KeyWithValue && line.name == key;
}

std::string_view WithoutTrailingBlanks(const char* psz) {
    std::string_view s = AsView(psz);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// ----- Results into the caller's buffer ----------------------------------

// Like lstrcpynA: at most cch - 1 characters and a NUL.
DWORD CopyCut(std::string_view s, char* pszOut, DWORD cch) {
    const size_t cchCopy = s.size() < cch ? s.size() : cch - 1;
    memcpy(pszOut, s.data(), cchCopy);
    pszOut[cchCopy] = '\0';
    return static_cast<DWORD>(cchCopy);
}

// Matching quotes around a value are removed. When the buffer is exactly as
// long as the value without its opening quote, the closing quote's place is
// dropped as well and one more character of the value goes: Wine does so,
// and the layer must read files as Wine's Win32 does.
DWORD CopyValue(std::string_view value, char* pszOut, DWORD cch) {
    value = UpToNul(value);
    const bool bQuoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (!bQuoted) return CopyCut(value, pszOut, cch);
    value.remove_prefix(1);
    DWORD cchCopied = CopyCut(value, pszOut, cch);
    if (cch >= value.size() && cchCopied > 0) pszOut[--cchCopied] = '\0';
    return cchCopied;
}

// Names, each NUL-terminated (as NameList makes them), and a final NUL. A
// list that does not fit is cut, ends in two NULs and reports cch - 2.
DWORD CopyList(std::string sList, char* pszOut, DWORD cch) {
    sList.push_back('\0');
    if (sList.size() < cch) {
        memcpy(pszOut, sList.data(), sList.size());
        return static_cast<DWORD>(sList.size() - 1);
    }
    if (cch < 2) {
        pszOut[0] = '\0';
        return 0;
    }
    memcpy(pszOut, sList.data(), cch - 2);
    pszOut[cch - 2] = pszOut[cch - 1] = '\0';
    return cch - 2;
}

// Integers as Win32 reads them: leading blanks, a sign, an optional 0b/0o/0x
// base prefix, then digits up to the first that does not fit the base,
// wrapping modulo 2^32.
UINT ParseProfileInt(const char* psz) {
    struct BasePrefix {
        char chLetter;
        UINT uBase;
    };
    static constexpr BasePrefix kPrefixes[] = {{'b', 2}, {'o', 8}, {'x', 16}};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(psz);
    while (*p != '\0' && *p <= ' ') ++p;
    const bool bMinus = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    UINT uBase = 10;
    for (const BasePrefix& prefix : kPrefixes) {
        if (p[0] == '0' && p[1] == prefix.chLetter) {
            uBase = prefix.uBase;
            p += 2;
            break;
        }
    }
    UINT uTotal = 0;
    for (;; ++p) {
        UINT uDigit = 99;
        if (*p >= '0' && *p <= '9')
            uDigit = *p - '0';
        else if (*p >= 'a' && *p <= 'z')
            uDigit = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'Z')
            uDigit = *p - 'A' + 10;
        if (uDigit >= uBase) break;
        uTotal = uTotal * uBase + uDigit;
    }
    return bMinus ? 0u - uTotal : uTotal;
}

}  // namespace

// ----- The index ---------------------------------------------------------

ProfileIndex::ProfileIndex(std::string text) : m_text(std::move(text)) {
    if (m_text.size() >= kMaxText) throw std::length_error("profile text too long to index");
    Parse();
}

size_t ProfileIndex::Footprint() const {
    return m_text.capacity() + m_entries.capacity() * sizeof(Entry) + m_sections.capacity() * sizeof(uint32_t);
}

void ProfileIndex::Parse() {
    const char* p = m_text.data();
    const size_t n = m_text.size();
    for (size_t pos = 0; pos < n;) {
        size_t stop = pos;
        while (stop < n && !IsLineBreak(p[stop])) ++stop;
        // A byte order mark is kept but does not hide the first section header.
        const bool bBom = pos == 0 && std::string_view(p, stop).substr(0, kUtf8Bom.size()) == kUtf8Bom;
        AddLine(bBom ? kUtf8Bom.size() : pos, stop);
        pos = stop;
        if (pos < n) pos += p[pos] == '\r' && pos + 1 < n && p[pos + 1] == '\n' ? 2 : 1;
    }
    m_entries.shrink_to_fit();
    m_sections.shrink_to_fit();
}

void ProfileIndex::AddLine(size_t nFrom, size_t nTo) {
    const LineShape line = ShapeOf(std::string_view(m_text).substr(nFrom, nTo - nFrom));
    if (line.shape == Shape::Other) return;
    if (line.shape == Shape::Section) m_sections.push_back(static_cast<uint32_t>(m_entries.size()));
    const Kind kind = line.shape == Shape::Section ? kSection : line.shape == Shape::Key ? kKey : kKeyWithValue;
    m_entries.push_back(Entry{static_cast<uint32_t>(line.name.data() - m_text.data()),
                              static_cast<uint32_t>(line.name.size()), kind});
}

std::string_view ProfileIndex::NameOf(size_t i) const {
    return std::string_view(m_text).substr(m_entries[i].nName, m_entries[i].nNameSize);
}

// Everything after the first '=' of the line, trimmed.
std::string_view ProfileIndex::ValueOf(size_t i) const {
    const size_t equals = m_text.find('=', m_entries[i].nName + m_entries[i].nNameSize);
    const size_t end = ContentEnd(i);
    return Trimmed(std::string_view(m_text).substr(equals + 1, end - equals - 1));
}

size_t ProfileIndex::LineStart(size_t i) const {
    size_t pos = m_entries[i].nName;
    while (pos > 0 && !IsLineBreak(m_text[pos - 1])) --pos;
    return pos;
}

size_t ProfileIndex::ContentEnd(size_t i) const {
    size_t pos = m_entries[i].nName + m_entries[i].nNameSize;
    while (pos < m_text.size() && !IsLineBreak(m_text[pos])) ++pos;
    return pos;
}

size_t ProfileIndex::NextLineStart(size_t i) const {
    size_t pos = ContentEnd(i);
    if (pos < m_text.size()) pos += m_text.compare(pos, 2, kLineEnd) == 0 ? 2 : 1;
    return pos;
}

// Only the first section of a name counts, as on Windows; the lines before
// the first header belong to no section and are never found.
size_t ProfileIndex::FindSection(std::string_view name) const {
    name = Trimmed(name);
    for (uint32_t header : m_sections)
        if (SameName(UpToNul(NameOf(header)), name)) return header;
    return npos;
}

size_t ProfileIndex::SectionEnd(size_t header) const {
    const auto next = std::upper_bound(m_sections.begin(), m_sections.end(), header);
    return next == m_sections.end() ? m_entries.size() : *next;
}

size_t ProfileIndex::FindKey(size_t header, std::string_view key) const {
    key = Trimmed(key);
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (SameName(UpToNul(NameOf(i)), key)) return i;
    return npos;
}

std::string ProfileIndex::SectionNames() const {
    std::string sNames;
    for (uint32_t header : m_sections) {
        const std::string_view name = UpToNul(NameOf(header));
        if (!name.empty()) sNames.append(name).push_back('\0');
    }
    return sNames;
}

// Keys listed are those with '='; an empty name would end the list early.
std::string ProfileIndex::KeyNames(size_t header) const {
    std::string sNames;
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        const std::string_view name = UpToNul(NameOf(i));
        if (m_entries[i].kind == kKeyWithValue && !name.empty()) sNames.append(name).push_back('\0');
    }
    return sNames;
}

// ----- Reads ---------------------------------------------------------------

DWORD ProfileIndex::ReadString(const char* pszSection, const char* pszKey, const char* pszDefault, char* pszOut,
                               DWORD cch, DWORD dwNoText, DWORD* pdwError) const {
    const DWORD dwMissing = dwNoText != ERROR_SUCCESS ? dwNoText : ERROR_FILE_NOT_FOUND;
    if (pszSection == nullptr) {
        *pdwError = dwNoText;
        return CopyList(SectionNames(), pszOut, cch);
    }
    const std::string_view defaultValue = WithoutTrailingBlanks(pszDefault);
    const size_t header = FindSection(pszSection);
    if (pszKey == nullptr) {
        std::string sNames = header == npos ? std::string() : KeyNames(header);
        *pdwError = header == npos ? dwMissing : ERROR_SUCCESS;
        return sNames.empty() ? CopyValue(defaultValue, pszOut, cch) : CopyList(std::move(sNames), pszOut, cch);
    }
    const size_t found = header == npos ? npos : FindKey(header, pszKey);
    if (found == npos || m_entries[found].kind != kKeyWithValue) {
        *pdwError = dwMissing;
        return CopyValue(defaultValue, pszOut, cch);
    }
    *pdwError = ERROR_SUCCESS;
    return CopyValue(ValueOf(found), pszOut, cch);
}

// The value goes through a 30-character buffer first, as in Wine's Win32, so
// only its first 29 characters count.
UINT ProfileIndex::ReadInt(const char* pszSection, const char* pszKey, INT nDefault, DWORD dwNoText,
                           DWORD* pdwError) const {
    if (pszSection == nullptr || pszKey == nullptr) {
        *pdwError = ERROR_INVALID_PARAMETER;
        return static_cast<UINT>(nDefault);
    }
    char szValue[kIntBufferSize];
    if (ReadString(pszSection, pszKey, "", szValue, sizeof szValue, dwNoText, pdwError) == 0)
        return static_cast<UINT>(nDefault);
    return ParseProfileInt(szValue);
}

// ----- Edits ---------------------------------------------------------------

std::string ProfileIndex::Edited(const char* pszSection, const char* pszKey, const char* pszValue) const {
    if (pszKey == nullptr) return WithoutSection(pszSection);
    if (pszValue == nullptr) return WithoutKey(pszSection, pszKey);
    return WithValue(pszSection, pszKey, pszValue);
}

std::string ProfileIndex::Spliced(size_t nFrom, size_t nTo, std::string_view insert) const {
    std::string sText;
    sText.reserve(m_text.size() - (nTo - nFrom) + insert.size());
    sText.append(m_text, 0, nFrom).append(insert).append(m_text, nTo, npos);
    return sText;
}

// A new section goes at the end and a new key after its section's last key;
// a line gets an end before anything is put after it.
std::string ProfileIndex::WithValue(std::string_view section, std::string_view key, std::string_view value) const {
    while (!value.empty() && IsProfileSpace(value.front())) value.remove_prefix(1);
    const std::string sEntry = std::string(Trimmed(key)) + "=" + std::string(value) + std::string(kLineEnd);
    const size_t header = FindSection(section);
    if (header == npos) {
        const bool bLastLineOpen = !m_text.empty() && !IsLineBreak(m_text.back());
        const std::string sAdded = std::string(bLastLineOpen ? kLineEnd : "") + "[" + std::string(Trimmed(section)) +
                                   "]" + std::string(kLineEnd) + sEntry;
        return Spliced(m_text.size(), m_text.size(), sAdded);
    }
    const size_t found = FindKey(header, key);
    if (found != npos) {
        // The existing spelling of the key stays; an equal value changes nothing.
        if (m_entries[found].kind == kKeyWithValue && ValueOf(found) == value) return m_text;
        const std::string sLine = std::string(NameOf(found)) + "=" + std::string(value) + std::string(kLineEnd);
        return Spliced(LineStart(found), NextLineStart(found), sLine);
    }
    const size_t last = SectionEnd(header) - 1;  // the section's last key, else its header
    const size_t end = ContentEnd(last);
    const size_t next = NextLineStart(last);
    return Spliced(next, next, (next == end ? std::string(kLineEnd) : std::string()) + sEntry);
}

std::string ProfileIndex::WithoutKey(std::string_view section, std::string_view key) const {
    const size_t header = FindSection(section);
    const size_t found = header == npos ? npos : FindKey(header, key);
    return found == npos ? m_text : Spliced(LineStart(found), NextLineStart(found), "");
}

std::string ProfileIndex::WithoutSection(std::string_view section) const {
    const size_t header = FindSection(section);
    if (header == npos) return m_text;
    const size_t end = SectionEnd(header);
    return Spliced(LineStart(header), end < m_entries.size() ? LineStart(end) : m_text.size(), "");
}

DWORD CheckProfileWrite(const char* pszSection, const char* pszKey, const char* pszValue) {
    // Line breaks would forge lines.
    const bool bBad = pszSection == nullptr || HasLineBreak(pszSection) || HasLineBreak(pszKey) ||
                      HasLineBreak(pszValue) || (pszKey != nullptr && !ReadsBackAsKey(pszKey, pszValue));
    return bBad ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

}  // namespace posix
}  // namespace platform
}  // namespace linkbay
