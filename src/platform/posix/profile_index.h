// A profile (INI) text with an index of its section headers and keys: each
// entry is an offset into the one copy of the text, so a parsed file costs
// little more than its size however its lines look. The profile calls answer
// from it, and so does the fuzz target, from memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "win32_api.h"

namespace linkbay {
namespace platform {
namespace posix {

class ProfileIndex {
public:
    ProfileIndex() = default;
    // Throws std::length_error for a text of 1 GiB or more (files are refused long before).
    explicit ProfileIndex(std::string text);

    const std::string& text() const { return m_text; }
    // Bytes held for the text and its index.
    size_t Footprint() const;

    // GetPrivateProfileStringA on this text (pszOut and cch > 0 checked by the
    // caller). dwNoText says why there is no text: ERROR_SUCCESS when there
    // is one. *pdwError receives the last error the call leaves.
    DWORD ReadString(const char* pszSection, const char* pszKey, const char* pszDefault, char* pszOut, DWORD cch,
                     DWORD dwNoText, DWORD* pdwError) const;
    // GetPrivateProfileIntA on this text, likewise.
    UINT ReadInt(const char* pszSection, const char* pszKey, INT nDefault, DWORD dwNoText, DWORD* pdwError) const;
    // The text after WritePrivateProfileStringA with arguments that
    // CheckProfileWrite accepted: a null key deletes the section, a null
    // value the key. Lines not touched keep their bytes.
    std::string Edited(const char* pszSection, const char* pszKey, const char* pszValue) const;

private:
    enum Kind : uint32_t { kSection, kKey, kKeyWithValue };
    // One header or key line: where its trimmed name starts, its length.
    struct Entry {
        uint32_t nName;
        uint32_t nNameSize : 30;
        uint32_t kind : 2;
    };

    void Parse();
    void AddLine(size_t nFrom, size_t nTo);
    std::string_view NameOf(size_t i) const;
    std::string_view ValueOf(size_t i) const;
    size_t LineStart(size_t i) const;
    size_t ContentEnd(size_t i) const;
    size_t NextLineStart(size_t i) const;
    size_t FindSection(std::string_view name) const;
    size_t SectionEnd(size_t header) const;
    size_t FindKey(size_t header, std::string_view key) const;
    // Each name with its NUL.
    std::string SectionNames() const;
    std::string KeyNames(size_t header) const;
    std::string Spliced(size_t nFrom, size_t nTo, std::string_view insert) const;
    std::string WithValue(std::string_view section, std::string_view key, std::string_view value) const;
    std::string WithoutKey(std::string_view section, std::string_view key) const;
    std::string WithoutSection(std::string_view section) const;

    std::string m_text;
    std::vector<Entry> m_entries;
    std::vector<uint32_t> m_sections;  // indexes of the headers in m_entries
};

// ERROR_SUCCESS when WritePrivateProfileStringA takes these arguments,
// ERROR_INVALID_PARAMETER when they would forge or lose lines.
DWORD CheckProfileWrite(const char* pszSection, const char* pszKey, const char* pszValue);

}  // namespace posix
}  // namespace platform
}  // namespace linkbay
