// Profile (INI) files with their Win32 rules. A write edits the text line by
// line, so comments, blank lines and lines this code does not understand keep
// their bytes and order, and the new text replaces the file atomically.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "handles.h"

namespace linkbay {
namespace platform {
namespace posix {
namespace {

constexpr size_t npos = std::string::npos;
constexpr const char* kLineEnd = "\r\n";  // what Windows writes
constexpr const char* kNullFileName = "win.ini";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr mode_t kNewFileMode = 0600;
constexpr mode_t kNewDirMode = 0700;

// ----- Text --------------------------------------------------------------

// Windows counts ^Z (a DOS end of file) as white space in profile files.
bool IsProfileSpace(char c) { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }

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

// ----- The line model ----------------------------------------------------

enum class LineKind { Other, Section, Entry };

struct Line {
    std::string sText;  // as in the file, without its line end
    std::string sEnd;   // "\r\n", "\n", "\r", or "" on a last line without one
    LineKind kind = LineKind::Other;
    std::string sName;       // section or key name, trimmed
    std::string sValue;      // trimmed, Entry lines only
    bool bHasValue = false;  // an Entry line with '='
};
using Lines = std::vector<Line>;

// Classifies as Windows reads it: "[name]" up to the last ']' is a section,
// ';' starts a comment, anything else is a key, with a value after the first
// '=' if there is one. A lone '[' without ']' is therefore a key.
Line MakeLine(std::string_view text, std::string_view end, std::string_view content) {
    Line line;
    line.sText.assign(text);
    line.sEnd.assign(end);
    content = Trimmed(content);
    if (content.empty() || content.front() == ';') return line;
    const size_t close = content.rfind(']');
    if (content.front() == '[' && close != npos) {
        line.kind = LineKind::Section;
        line.sName.assign(Trimmed(content.substr(1, close - 1)));
        return line;
    }
    line.kind = LineKind::Entry;
    const size_t equals = content.find('=');
    line.sName.assign(Trimmed(content.substr(0, equals)));
    if (equals != npos) {
        line.bHasValue = true;
        line.sValue.assign(Trimmed(content.substr(equals + 1)));
    }
    return line;
}

Line EntryLine(std::string_view name, std::string_view value) {
    const std::string sText = std::string(name) + "=" + std::string(value);
    return MakeLine(sText, kLineEnd, sText);
}

Line SectionLine(std::string_view name) {
    const std::string sText = "[" + std::string(name) + "]";
    return MakeLine(sText, kLineEnd, sText);
}

// A key written with a value must come back as that key: one with '=', or
// one that makes a comment or a section header of its line, would not.
bool ReadsBackAsKey(const char* pszKey, const char* pszValue) {
    const std::string_view key = Trimmed(pszKey);
    const Line line = EntryLine(key, pszValue != nullptr ? pszValue : "");
    return line.kind == LineKind::Entry && line.sName == key;
}

Lines ParseProfile(std::string_view text) {
    Lines lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t brk = text.find_first_of("\r\n", pos);
        const size_t stop = brk == npos ? text.size() : brk;
        size_t next = stop;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        std::string_view line = text.substr(pos, stop - pos);
        // A byte order mark is kept but does not hide the first section header.
        const std::string_view content =
            pos == 0 && line.substr(0, kUtf8Bom.size()) == kUtf8Bom ? line.substr(kUtf8Bom.size()) : line;
        lines.push_back(MakeLine(line, text.substr(stop, next - stop), content));
        pos = next;
    }
    return lines;
}

std::string JoinLines(const Lines& lines) {
    std::string sText;
    for (const Line& line : lines) sText += line.sText + line.sEnd;
    return sText;
}

// Only the first section of a name counts, as on Windows; the lines before
// the first header belong to no section and are never found.
size_t FindSection(const Lines& lines, std::string_view name) {
    name = Trimmed(name);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Section && SameName(UpToNul(lines[i].sName), name)) return i;
    return npos;
}

size_t SectionEnd(const Lines& lines, size_t header) {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::Section) ++i;
    return i;
}

size_t FindKey(const Lines& lines, size_t header, std::string_view key) {
    key = Trimmed(key);
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Entry && SameName(UpToNul(lines[i].sName), key)) return i;
    return npos;
}

std::vector<std::string> SectionNames(const Lines& lines) {
    std::vector<std::string> names;
    for (const Line& line : lines) {
        const std::string_view name = UpToNul(line.sName);
        if (line.kind == LineKind::Section && !name.empty()) names.emplace_back(name);
    }
    return names;
}

// Keys listed are those with '='; an empty name would end the list early.
std::vector<std::string> KeyNames(const Lines& lines, size_t header) {
    std::vector<std::string> names;
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        const std::string_view name = UpToNul(lines[i].sName);
        if (lines[i].kind == LineKind::Entry && lines[i].bHasValue && !name.empty()) names.emplace_back(name);
    }
    return names;
}

// ----- Edits -------------------------------------------------------------

// A line gets an end before anything is put after it.
void EndLineAt(Lines& lines, size_t index) {
    if (index < lines.size() && lines[index].sEnd.empty()) lines[index].sEnd = kLineEnd;
}

void SetValue(Lines& lines, std::string_view section, std::string_view key, std::string_view value) {
    while (!value.empty() && IsProfileSpace(value.front())) value.remove_prefix(1);
    const size_t header = FindSection(lines, section);
    if (header == npos) {
        if (!lines.empty()) EndLineAt(lines, lines.size() - 1);
        lines.push_back(SectionLine(Trimmed(section)));
        lines.push_back(EntryLine(Trimmed(key), value));
        return;
    }
    const size_t found = FindKey(lines, header, key);
    if (found != npos) {
        // The existing spelling of the key stays; an equal value changes nothing.
        if (!lines[found].bHasValue || lines[found].sValue != value)
            lines[found] = EntryLine(lines[found].sName, value);
        return;
    }
    size_t last = header;  // a new key goes after the section's last key
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Entry) last = i;
    EndLineAt(lines, last);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), EntryLine(Trimmed(key), value));
}

void DeleteKey(Lines& lines, std::string_view section, std::string_view key) {
    const size_t header = FindSection(lines, section);
    const size_t found = header == npos ? npos : FindKey(lines, header, key);
    if (found != npos) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(found));
}

void DeleteSection(Lines& lines, std::string_view section) {
    const size_t header = FindSection(lines, section);
    if (header == npos) return;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
                lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(lines, header)));
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

// Names, each NUL-terminated, and a final NUL. A list that does not fit is
// cut, ends in two NULs and reports cch - 2.
DWORD CopyList(const std::vector<std::string>& names, char* pszOut, DWORD cch) {
    std::string sList;
    for (const std::string& name : names) sList.append(name).push_back('\0');
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

// ----- Files -------------------------------------------------------------

struct ErrnoMeaning {
    int nErrno;
    DWORD dwError;
};

// Where a profile file differs from the layer's general errno meanings.
constexpr ErrnoMeaning kReadErrors[] = {{ENOENT, ERROR_FILE_NOT_FOUND},
                                        {ENOTDIR, ERROR_FILE_NOT_FOUND},
                                        {EISDIR, ERROR_ACCESS_DENIED},
                                        {EIO, ERROR_READ_FAULT}};
constexpr ErrnoMeaning kWriteErrors[] = {{ENOENT, ERROR_PATH_NOT_FOUND}, {EISDIR, ERROR_ACCESS_DENIED},
                                         {EIO, ERROR_WRITE_FAULT},       {ENOSPC, ERROR_WRITE_FAULT},
                                         {EDQUOT, ERROR_WRITE_FAULT},    {EFBIG, ERROR_WRITE_FAULT}};

template <size_t N>
DWORD ProfileError(const ErrnoMeaning (&table)[N], int err) {
    for (const ErrnoMeaning& meaning : table)
        if (meaning.nErrno == err) return meaning.dwError;
    return ErrorFromErrno(err);
}

struct Location {
    std::string sPath;
    std::string sDir;
    std::string sBase;
    bool bCreateDir = false;  // the default Windows directory may not exist yet
};

std::string FromEnvironment(const char* pszName) {
    const char* psz = getenv(pszName);
    return psz != nullptr ? std::string(psz) : std::string();
}

std::string HomeDirectory() {
    std::string sHome = FromEnvironment("HOME");
    if (!sHome.empty()) return sHome;
    std::vector<char> scratch(16384);
    passwd entry{};
    passwd* pEntry = nullptr;
    if (getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &pEntry) == 0 && pEntry != nullptr &&
        pEntry->pw_dir != nullptr)
        sHome = pEntry->pw_dir;
    return sHome;
}

// A bare file name lives in the "Windows directory"; the environment is read
// on every call so that a process may move it.
bool LocateProfile(const char* pszFileName, Location* pLocation) {
    const std::string sName = pszFileName != nullptr ? pszFileName : kNullFileName;
    const size_t slash = sName.rfind('/');
    if (slash != npos) {
        pLocation->sDir = slash == 0 ? "/" : sName.substr(0, slash);
        pLocation->sBase = sName.substr(slash + 1);
        pLocation->sPath = sName;
        return true;
    }
    std::string sDir = FromEnvironment("LINKBAY_WINDIR");
    if (sDir.empty()) {
        const std::string sConfig = FromEnvironment("XDG_CONFIG_HOME");
        const std::string sHome = sConfig.empty() ? HomeDirectory() : std::string();
        if (sConfig.empty() && sHome.empty()) return false;
        sDir = (sConfig.empty() ? sHome + "/.config" : sConfig) + "/linkbay";
        pLocation->bCreateDir = true;
    }
    pLocation->sDir = sDir;
    pLocation->sBase = sName;
    pLocation->sPath = sDir + "/" + sName;
    return true;
}

struct FileText {
    std::string sText;
    mode_t mode = kNewFileMode;
};

// ERROR_FILE_NOT_FOUND when there is no file; a directory is refused as
// Windows refuses it, and other special files are never read (a FIFO would block).
DWORD ReadProfileFile(const std::string& sPath, FileText* pFile) {
    const int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return ProfileError(kReadErrors, errno);
    struct stat info {};
    DWORD dwError = ERROR_SUCCESS;
    if (fstat(fd, &info) != 0)
        dwError = ProfileError(kReadErrors, errno);
    else if (!S_ISREG(info.st_mode))
        dwError = ERROR_ACCESS_DENIED;
    pFile->mode = info.st_mode & 07777;
    char buffer[65536];
    while (dwError == ERROR_SUCCESS) {
        const ssize_t cb = read(fd, buffer, sizeof buffer);
        if (cb == 0) break;
        if (cb > 0)
            pFile->sText.append(buffer, static_cast<size_t>(cb));
        else if (errno != EINTR)
            dwError = ProfileError(kReadErrors, errno);
    }
    close(fd);
    return dwError;
}

DWORD MakeDirectories(const std::string& sDir) {
    for (size_t slash = sDir.find('/', 1);; slash = sDir.find('/', slash + 1)) {
        const std::string sPart = sDir.substr(0, slash);
        if (mkdir(sPart.c_str(), kNewDirMode) != 0 && errno != EEXIST)
            return ProfileError(kWriteErrors, errno);
        if (slash == npos) return ERROR_SUCCESS;
    }
}

// Temporaries are ".<name>.<pid>.tmp": a writer killed mid-write leaves at
// most one, and the next write removes those whose writer is gone.
std::string TempPrefix(const Location& location) { return "." + location.sBase + "."; }

void RemoveStaleTemporaries(const Location& location) {
    DIR* pDir = opendir(location.sDir.c_str());
    if (pDir == nullptr) return;
    const std::string sPrefix = TempPrefix(location);
    while (const dirent* pEntry = readdir(pDir)) {
        const std::string_view name = pEntry->d_name;
        if (name.size() <= sPrefix.size() + kTempSuffix.size() || name.substr(0, sPrefix.size()) != sPrefix ||
            name.substr(name.size() - kTempSuffix.size()) != kTempSuffix)
            continue;
        const std::string sPid(
            name.substr(sPrefix.size(), name.size() - sPrefix.size() - kTempSuffix.size()));
        if (sPid.find_first_not_of("0123456789") != npos || sPid.size() > 9) continue;
        const pid_t pid = static_cast<pid_t>(atol(sPid.c_str()));
        if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) unlinkat(dirfd(pDir), pEntry->d_name, 0);
    }
    closedir(pDir);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t cb = write(fd, data.data(), data.size());
        if (cb < 0 && errno == EINTR) continue;
        if (cb <= 0) return false;
        data.remove_prefix(static_cast<size_t>(cb));
    }
    return true;
}

// The new text goes to a temporary beside the file, reaches the disk, and
// then takes the file's name in one step: a crash leaves old or new, whole.
DWORD ReplaceFile(const Location& location, std::string_view text, mode_t mode) {
    if (location.bCreateDir) {
        const DWORD dwError = MakeDirectories(location.sDir);
        if (dwError != ERROR_SUCCESS) return dwError;
    }
    RemoveStaleTemporaries(location);
    const std::string sTemp =
        location.sDir + "/" + TempPrefix(location) + std::to_string(getpid()) + std::string(kTempSuffix);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = open(sTemp.c_str(), flags, kNewFileMode);
    if (fd < 0 && errno == EEXIST && unlink(sTemp.c_str()) == 0)
        fd = open(sTemp.c_str(), flags, kNewFileMode);
    if (fd < 0) return ProfileError(kWriteErrors, errno);
    bool bOk = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && bOk) {
        bOk = false;
        err = errno;
    }
    if (bOk && rename(sTemp.c_str(), location.sPath.c_str()) != 0) {
        bOk = false;
        err = errno;
    }
    if (!bOk) {
        unlink(sTemp.c_str());
        return ProfileError(kWriteErrors, err);
    }
    const int fdDir = open(location.sDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir >= 0) {
        fsync(fdDir);  // makes the rename itself durable
        close(fdDir);
    }
    return ERROR_SUCCESS;
}

// ----- The calls ---------------------------------------------------------

std::mutex& ProfileLock() {
    static std::mutex lock;
    return lock;
}

std::string WithoutTrailingBlanks(const char* psz) {
    std::string s = psz != nullptr ? psz : "";
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// A missing file reads as an empty one; dwStatus says why there was no text.
struct LoadedProfile {
    DWORD dwStatus = ERROR_SUCCESS;
    Location location;
    FileText file;
    Lines lines;
};

LoadedProfile LoadProfile(const char* pszFileName) {
    LoadedProfile profile;
    if (!LocateProfile(pszFileName, &profile.location))
        profile.dwStatus = ERROR_PATH_NOT_FOUND;
    else
        profile.dwStatus = ReadProfileFile(profile.location.sPath, &profile.file);
    if (profile.dwStatus == ERROR_SUCCESS) profile.lines = ParseProfile(profile.file.sText);
    return profile;
}

DWORD ReadProfileString(const char* pszSection, const char* pszKey, const char* pszDefault, char* pszOut,
                        DWORD cch, const char* pszFileName) {
    const LoadedProfile profile = LoadProfile(pszFileName);
    const Lines& lines = profile.lines;
    const DWORD dwMissing = profile.dwStatus != ERROR_SUCCESS ? profile.dwStatus : ERROR_FILE_NOT_FOUND;
    if (pszSection == nullptr) {
        SetLastError(profile.dwStatus);
        return CopyList(SectionNames(lines), pszOut, cch);
    }
    const std::string sDefault = WithoutTrailingBlanks(pszDefault);
    const size_t header = FindSection(lines, pszSection);
    if (pszKey == nullptr) {
        const std::vector<std::string> names =
            header == npos ? std::vector<std::string>() : KeyNames(lines, header);
        SetLastError(header == npos ? dwMissing : ERROR_SUCCESS);
        return names.empty() ? CopyValue(sDefault, pszOut, cch) : CopyList(names, pszOut, cch);
    }
    const size_t found = header == npos ? npos : FindKey(lines, header, pszKey);
    if (found == npos || !lines[found].bHasValue) {
        SetLastError(dwMissing);
        return CopyValue(sDefault, pszOut, cch);
    }
    SetLastError(ERROR_SUCCESS);
    return CopyValue(lines[found].sValue, pszOut, cch);
}

BOOL WriteProfileValue(const char* pszSection, const char* pszKey, const char* pszValue,
                       const char* pszFileName) {
    LoadedProfile profile = LoadProfile(pszFileName);
    const bool bExists = profile.dwStatus == ERROR_SUCCESS;
    DWORD dwError = profile.dwStatus == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : profile.dwStatus;
    // Renaming would replace a read-only file; Windows refuses to write it.
    if (dwError == ERROR_SUCCESS && bExists && access(profile.location.sPath.c_str(), W_OK) != 0)
        dwError = ProfileError(kWriteErrors, errno);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    Lines& lines = profile.lines;
    if (pszKey == nullptr)
        DeleteSection(lines, pszSection);
    else if (pszValue == nullptr)
        DeleteKey(lines, pszSection, pszKey);
    else
        SetValue(lines, pszSection, pszKey, pszValue);
    const std::string sText = JoinLines(lines);
    if (sText == profile.file.sText) return TRUE;  // nothing changed, or nothing to delete
    dwError = ReplaceFile(profile.location, sText, profile.file.mode);
    if (dwError != ERROR_SUCCESS) SetLastError(dwError);
    return dwError == ERROR_SUCCESS ? TRUE : FALSE;
}

}  // namespace
}  // namespace posix
}  // namespace platform
}  // namespace linkbay

using namespace linkbay::platform::posix;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (lpReturnedString == nullptr || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    try {
        std::lock_guard<std::mutex> guard(ProfileLock());
        return ReadProfileString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
    } catch (...) {
        lpReturnedString[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    if (lpAppName == nullptr || lpKeyName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<UINT>(nDefault);
    }
    // The value goes through a 30-character buffer first, as in Wine's Win32,
    // so only its first 29 characters count.
    char szValue[30];
    if (GetPrivateProfileStringA(lpAppName, lpKeyName, "", szValue, sizeof szValue, lpFileName) == 0)
        return static_cast<UINT>(nDefault);
    return ParseProfileInt(szValue);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
    // All null asks Windows to flush its cache; nothing is cached here.
    if (lpAppName == nullptr && lpKeyName == nullptr && lpString == nullptr) return TRUE;
    try {
        // Line breaks would forge lines.
        if (lpAppName == nullptr || HasLineBreak(lpAppName) || HasLineBreak(lpKeyName) ||
            HasLineBreak(lpString) || (lpKeyName != nullptr && !ReadsBackAsKey(lpKeyName, lpString))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> guard(ProfileLock());
        return WriteProfileValue(lpAppName, lpKeyName, lpString, lpFileName);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
