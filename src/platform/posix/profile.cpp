// Profile (INI) files with their Win32 rules, on the text model of
// profile_index.h. A file is parsed once per change of it and kept per
// process; a write reads, edits and replaces the file atomically under a
// lock every process takes, so that concurrent writers lose nothing.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <pwd.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../platform.h"
#include "handles.h"
#include "profile_index.h"

namespace linkbay {
namespace platform {
namespace posix {
namespace {

constexpr size_t npos = std::string::npos;
constexpr const char* kNullFileName = "win.ini";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr mode_t kNewFileMode = 0600;
constexpr mode_t kNewDirMode = 0700;
// Settings files are small; a larger one is not read rather than let it
// cost every process its size in time and memory at each change.
constexpr size_t kMaxProfileSize = size_t{16} << 20;
constexpr int kMaxLinkHops = 40;        // as the kernel's own limit for a path
// Modification times are coarse (a clock tick; whole seconds on some file
// systems): a version read this soon after its time may yet change without
// changing its identity, so it is read again until it is older.
constexpr int64_t kRacyWindowNs = 2'000'000'000;
constexpr size_t kMaxCachedFiles = 16;  // a process uses one or two

// ----- Errors ------------------------------------------------------------

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
                                         {EIO, ERROR_WRITE_FAULT},       {ENOSPC, ERROR_DISK_FULL},
                                         {EDQUOT, ERROR_DISK_FULL},      {EFBIG, ERROR_FILE_TOO_LARGE},
                                         {EROFS, ERROR_WRITE_PROTECT}};

template <size_t N>
DWORD ProfileError(const ErrnoMeaning (&table)[N], int err) {
    for (const ErrnoMeaning& meaning : table)
        if (meaning.nErrno == err) return meaning.dwError;
    return ErrorFromErrno(err);
}

// ----- Where a file lives -------------------------------------------------

struct Location {
    std::string sPath;
    std::string sDir;
    std::string sBase;
    bool bCreateDir = false;  // the default Windows directory may not exist yet
};

Location SplitPath(const std::string& sPath) {
    const size_t slash = sPath.rfind('/');
    Location location;
    location.sPath = sPath;
    location.sDir = slash == npos ? "." : slash == 0 ? "/" : sPath.substr(0, slash);
    location.sBase = slash == npos ? sPath : sPath.substr(slash + 1);
    return location;
}

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
    if (sName.find('/') != npos) {
        *pLocation = SplitPath(sName);
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

// A write goes through symbolic links to the file they lead to, so that a
// link stays a link.
DWORD FollowLinks(const std::string& sPath, Location* pTarget) {
    std::string sAt = sPath;
    for (int nHops = 0; nHops <= kMaxLinkHops; ++nHops) {
        struct stat info {};
        if (lstat(sAt.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            *pTarget = SplitPath(sAt);
            return ERROR_SUCCESS;
        }
        std::string sLink(PATH_MAX, '\0');
        const ssize_t cch = readlink(sAt.c_str(), sLink.data(), sLink.size());
        if (cch < 0) return ProfileError(kWriteErrors, errno);
        if (static_cast<size_t>(cch) >= sLink.size()) return ProfileError(kWriteErrors, ENAMETOOLONG);
        sLink.resize(static_cast<size_t>(cch));
        sAt = sLink.front() == '/' ? sLink : SplitPath(sAt).sDir + "/" + sLink;
    }
    return ProfileError(kWriteErrors, ELOOP);
}

// ----- Reading, once per change -------------------------------------------

// What tells one version of a file from the next without reading it. The
// change time is there for permissions: a file made readable is read again.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    static FileIdentity Of(const struct stat& info) {
        return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    }
    bool operator==(const FileIdentity& other) const {
        return dev == other.dev && ino == other.ino && size == other.size && mtime.tv_sec == other.mtime.tv_sec &&
               mtime.tv_nsec == other.mtime.tv_nsec && ctime.tv_sec == other.ctime.tv_sec &&
               ctime.tv_nsec == other.ctime.tv_nsec;
    }
};

int64_t Nanoseconds(time_t seconds, long nanoseconds) { return int64_t{seconds} * 1'000'000'000 + nanoseconds; }

int64_t WallClockNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now.tv_sec, now.tv_nsec);
}

// One version of a file as read; a missing or unread file has no text and
// dwStatus says why.
struct LoadedProfile {
    DWORD dwStatus = ERROR_SUCCESS;
    FileIdentity identity;
    bool bRacy = true;  // read too soon after its modification time to be kept
    mode_t mode = kNewFileMode;
    ProfileIndex index;
    mutable std::atomic<bool> bUnreadTold{false};
};
using ProfilePtr = std::shared_ptr<const LoadedProfile>;

ProfilePtr Unread(DWORD dwStatus) {
    auto profile = std::make_shared<LoadedProfile>();
    profile->dwStatus = dwStatus;
    return profile;
}

// Reads to the end, one byte beyond the limit at most: a file that grows
// while it is read is caught too.
DWORD ReadAll(int fd, size_t cbExpected, std::string* pText) {
    pText->resize(std::min(cbExpected, kMaxProfileSize) + 1);
    size_t cbHave = 0;
    while (true) {
        if (cbHave == pText->size()) {
            if (cbHave > kMaxProfileSize) return ERROR_FILE_TOO_LARGE;
            pText->resize(std::min(cbHave * 2, kMaxProfileSize + 1));
        }
        const ssize_t cb = read(fd, &(*pText)[cbHave], pText->size() - cbHave);
        if (cb == 0) break;
        if (cb > 0)
            cbHave += static_cast<size_t>(cb);
        else if (errno != EINTR)
            return ProfileError(kReadErrors, errno);
    }
    pText->resize(cbHave);
    return ERROR_SUCCESS;
}

// ERROR_FILE_NOT_FOUND when there is no file; a directory is refused as
// Windows refuses it, and other special files are never read (a FIFO would block).
ProfilePtr ReadProfileFile(const std::string& sPath) {
    auto profile = std::make_shared<LoadedProfile>();
    const int64_t nReadAtNs = WallClockNs();
    struct stat info {};
    const int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        profile->dwStatus = ProfileError(kReadErrors, errno);
        if (stat(sPath.c_str(), &info) == 0) profile->identity = FileIdentity::Of(info);
        return profile;
    }
    std::string sText;
    if (fstat(fd, &info) != 0) {
        profile->dwStatus = ProfileError(kReadErrors, errno);
    } else {
        profile->identity = FileIdentity::Of(info);
        profile->mode = info.st_mode & 07777;
        if (!S_ISREG(info.st_mode))
            profile->dwStatus = ERROR_ACCESS_DENIED;
        else if (static_cast<size_t>(info.st_size) > kMaxProfileSize)
            profile->dwStatus = ERROR_FILE_TOO_LARGE;
        else
            profile->dwStatus = ReadAll(fd, static_cast<size_t>(info.st_size), &sText);
    }
    close(fd);
    const timespec& modified = profile->identity.mtime;
    profile->bRacy = Nanoseconds(modified.tv_sec, modified.tv_nsec) + kRacyWindowNs > nReadAtNs;
    if (profile->dwStatus == ERROR_SUCCESS) profile->index = ProfileIndex(std::move(sText));
    return profile;
}

// The files this process read, by path, each as it was last seen.
class ProfileCache {
public:
    // The version kept for the path when it has this identity.
    ProfilePtr Find(const std::string& sPath, const FileIdentity& identity) {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto found = m_files.find(sPath);
        return found != m_files.end() && found->second->identity == identity ? found->second : nullptr;
    }
    void Store(const std::string& sPath, ProfilePtr profile) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_files.size() >= kMaxCachedFiles && m_files.count(sPath) == 0) m_files.clear();
        m_files[sPath] = std::move(profile);
    }

    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_files.clear();
    }

private:
    std::mutex m_lock;
    std::map<std::string, ProfilePtr> m_files;
};

// The cache itself is never destroyed, as a thread may still read settings
// while the process exits; what it holds is let go when the library is
// unloaded, so a host that loads and unloads it leaks nothing.
ProfileCache& Cache() {
    alignas(ProfileCache) static unsigned char s_storage[sizeof(ProfileCache)];
    static ProfileCache* const s_pCache = new (s_storage) ProfileCache;
    static const struct ReleaseAtUnload {
        ~ReleaseAtUnload() { s_pCache->Clear(); }
    } s_release;
    return *s_pCache;
}

// A missing file is not kept: there is nothing to parse, and its absence
// costs one stat.
ProfilePtr CurrentProfile(const Location& location) {
    struct stat info {};
    if (stat(location.sPath.c_str(), &info) != 0) return Unread(ProfileError(kReadErrors, errno));
    const ProfilePtr cached = Cache().Find(location.sPath, FileIdentity::Of(info));
    if (cached != nullptr && !cached->bRacy) return cached;
    ProfilePtr fresh = ReadProfileFile(location.sPath);
    // A version read again is still the one told about.
    if (cached != nullptr && cached->identity == fresh->identity && cached->dwStatus == fresh->dwStatus &&
        cached->bUnreadTold)
        fresh->bUnreadTold = true;
    Cache().Store(location.sPath, fresh);
    return fresh;
}

ProfilePtr ProfileNamed(const char* pszFileName) {
    Location location;
    if (!LocateProfile(pszFileName, &location)) return Unread(ERROR_PATH_NOT_FOUND);
    return CurrentProfile(location);
}

// ----- Writing ------------------------------------------------------------

DWORD MakeDirectories(const std::string& sDir) {
    for (size_t slash = sDir.find('/', 1);; slash = sDir.find('/', slash + 1)) {
        const std::string sPart = sDir.substr(0, slash);
        if (mkdir(sPart.c_str(), kNewDirMode) != 0 && errno != EEXIST)
            return ProfileError(kWriteErrors, errno);
        if (slash == npos) return ERROR_SUCCESS;
    }
}

// Read-modify-write is held by an flock on the file's folder, which every
// process takes the same way and which needs no file of its own: a folder
// the process cannot write still reads.
class FolderLock {
public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (m_fd >= 0) close(m_fd);  // releases the lock
    }

    DWORD Take(const std::string& sDir) {
        m_fd = open(sDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0) return ProfileError(kWriteErrors, errno);
        while (flock(m_fd, LOCK_EX) != 0)
            if (errno != EINTR) return ProfileError(kWriteErrors, errno);
        return ERROR_SUCCESS;
    }

private:
    int m_fd = -1;
};

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

// Under the lock the file is read again whatever this process has seen: a
// write must start from what the last writer left. The new version is not
// kept: read this soon after its modification, it would not be trusted.
DWORD WriteProfileValue(const char* pszSection, const char* pszKey, const char* pszValue,
                        const char* pszFileName) {
    Location location;
    if (!LocateProfile(pszFileName, &location)) return ERROR_PATH_NOT_FOUND;
    DWORD dwError = location.bCreateDir ? MakeDirectories(location.sDir) : ERROR_SUCCESS;
    FolderLock lock;
    if (dwError == ERROR_SUCCESS) dwError = lock.Take(location.sDir);
    Location target;
    if (dwError == ERROR_SUCCESS) dwError = FollowLinks(location.sPath, &target);
    if (dwError != ERROR_SUCCESS) return dwError;
    const ProfilePtr current = ReadProfileFile(target.sPath);
    const bool bExists = current->dwStatus == ERROR_SUCCESS;
    if (!bExists && current->dwStatus != ERROR_FILE_NOT_FOUND) return current->dwStatus;
    const std::string sText = current->index.Edited(pszSection, pszKey, pszValue);
    if (sText == current->index.text()) return ERROR_SUCCESS;  // nothing changed, or nothing to delete
    if (sText.size() > kMaxProfileSize) return ERROR_FILE_TOO_LARGE;
    // Renaming would replace a read-only file; Windows refuses to write it.
    if (bExists && access(target.sPath.c_str(), W_OK) != 0) return ProfileError(kWriteErrors, errno);
    return ReplaceFile(target, sText, current->mode);
}

bool CopyPath(const std::string& sPath, char* pszPath, size_t cchPath) {
    if (pszPath == nullptr || sPath.size() >= cchPath) return false;
    memcpy(pszPath, sPath.c_str(), sPath.size() + 1);
    return true;
}

}  // namespace
}  // namespace posix

bool ProfilePath(const char* pszFileName, char* pszPath, size_t cchPath) {
    posix::Location location;
    try {
        return posix::LocateProfile(pszFileName, &location) && posix::CopyPath(location.sPath, pszPath, cchPath);
    } catch (...) {
        return false;
    }
}

bool TakeUnreadProfile(const char* pszFileName, UnreadProfile* pUnread) {
    try {
        posix::Location location;
        if (!posix::LocateProfile(pszFileName, &location)) return false;
        const posix::ProfilePtr profile = posix::CurrentProfile(location);
        const DWORD dwStatus = profile->dwStatus;
        if (dwStatus == ERROR_SUCCESS || dwStatus == ERROR_FILE_NOT_FOUND || dwStatus == ERROR_PATH_NOT_FOUND)
            return false;
        if (profile->bUnreadTold.exchange(true)) return false;
        if (!posix::CopyPath(location.sPath, pUnread->szPath, sizeof pUnread->szPath))
            snprintf(pUnread->szPath, sizeof pUnread->szPath, "%s", location.sBase.c_str());
        pUnread->cbSize = static_cast<uint64_t>(profile->identity.size);
        pUnread->cbLimit = posix::kMaxProfileSize;
        pUnread->dwError = dwStatus;
        return true;
    } catch (...) {
        return false;
    }
}

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
        const ProfilePtr profile = ProfileNamed(lpFileName);
        DWORD dwError = ERROR_SUCCESS;
        const DWORD cch = profile->index.ReadString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize,
                                                    profile->dwStatus, &dwError);
        SetLastError(dwError);
        return cch;
    } catch (...) {
        lpReturnedString[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    try {
        const ProfilePtr profile = ProfileNamed(lpFileName);
        DWORD dwError = ERROR_SUCCESS;
        const UINT u = profile->index.ReadInt(lpAppName, lpKeyName, nDefault, profile->dwStatus, &dwError);
        SetLastError(dwError);
        return u;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return static_cast<UINT>(nDefault);
    }
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
    // All null asks Windows to flush its cache; what is kept here is never behind the file.
    if (lpAppName == nullptr && lpKeyName == nullptr && lpString == nullptr) return TRUE;
    try {
        DWORD dwError = CheckProfileWrite(lpAppName, lpKeyName, lpString);
        if (dwError == ERROR_SUCCESS) dwError = WriteProfileValue(lpAppName, lpKeyName, lpString, lpFileName);
        if (dwError != ERROR_SUCCESS) SetLastError(dwError);
        return dwError == ERROR_SUCCESS ? TRUE : FALSE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
