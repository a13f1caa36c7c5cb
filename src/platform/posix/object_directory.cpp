#include "object_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "handles.h"

namespace linkbay {
namespace platform {
namespace posix {
namespace {

constexpr mode_t kPrivateMode = 0700;

bool IsSet(const char* psz) { return psz != nullptr && *psz != '\0'; }

// A runtime directory given to us by the session: ours, and closed to others.
bool IsPrivateRuntimeDirectory(const char* pszPath) {
    struct stat st {};
    return IsSet(pszPath) && pszPath[0] == '/' && stat(pszPath, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// The directory the name leads to; false when none can be named.
bool ChooseDirectory(char* pszPath, size_t cchPath) {
    const char* pszExplicit = getenv("LINKBAY_IPC_DIR");
    const char* pszRuntime = getenv("XDG_RUNTIME_DIR");
    int cch = 0;
    if (IsSet(pszExplicit)) {
        cch = snprintf(pszPath, cchPath, "%s", pszExplicit);
    } else if (IsPrivateRuntimeDirectory(pszRuntime)) {
        cch = snprintf(pszPath, cchPath, "%s/linkbay", pszRuntime);
    } else {
        struct stat st {};
        const char* pszBase = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
        cch = snprintf(pszPath, cchPath, "%s/linkbay-%lu", pszBase, static_cast<unsigned long>(geteuid()));
    }
    return cch > 0 && static_cast<size_t>(cch) < cchPath;
}

int Refuse(DWORD dwError, const char* pszPath, const char* pszReason, char* pszWhyNot, size_t cchWhyNot) {
    snprintf(pszWhyNot, cchWhyNot, "the directory of named objects %s %s", pszPath, pszReason);
    SetLastError(dwError);
    return -1;
}

}  // namespace

int OpenObjectDirectory(char* pszWhyNot, size_t cchWhyNot) {
    char szPath[4096];
    if (!ChooseDirectory(szPath, sizeof szPath)) {
        snprintf(pszWhyNot, cchWhyNot, "the directory of named objects has too long a name");
        SetLastError(ERROR_INVALID_NAME);
        return -1;
    }
    char szReason[160];
    // mkdir creates through no link; the umask may narrow the mode, never widen it.
    const bool bCreated = mkdir(szPath, kPrivateMode) == 0;
    if (!bCreated && errno != EEXIST) {
        const int err = errno;
        snprintf(szReason, sizeof szReason, "cannot be created: %s", strerror(err));
        return Refuse(ErrorFromErrno(err), szPath, szReason, pszWhyNot, cchWhyNot);
    }
    const int fd = open(szPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOTDIR || err == ELOOP)
            snprintf(szReason, sizeof szReason, "is not a directory (a link or a file stands there): refused");
        else
            snprintf(szReason, sizeof szReason, "cannot be opened: %s", strerror(err));
        return Refuse(err == ENOTDIR || err == ELOOP ? ERROR_ACCESS_DENIED : ErrorFromErrno(err), szPath, szReason,
                      pszWhyNot, cchWhyNot);
    }
    if (bCreated) fchmod(fd, kPrivateMode);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        snprintf(szReason, sizeof szReason, "cannot be examined: %s", strerror(errno));
    } else if (st.st_uid != geteuid()) {
        snprintf(szReason, sizeof szReason, "belongs to user %lu, not to this user (%lu): refused",
                 static_cast<unsigned long>(st.st_uid), static_cast<unsigned long>(geteuid()));
    } else if ((st.st_mode & 07777) != kPrivateMode) {
        snprintf(szReason, sizeof szReason, "has mode %04lo, not 0700: refused",
                 static_cast<unsigned long>(st.st_mode & 07777));
    } else {
        return fd;
    }
    close(fd);
    return Refuse(ERROR_ACCESS_DENIED, szPath, szReason, pszWhyNot, cchWhyNot);
}

}  // namespace posix
}  // namespace platform
}  // namespace linkbay
