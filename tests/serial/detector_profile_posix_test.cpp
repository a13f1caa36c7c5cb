// DETHUB.INI when it cannot serve: a file present but not read, or a setting
// not written, is told at debug level 0 with the file's path and the
// system's reason. Each failing write runs in a child process, where a
// read-only mount is made without touching the rest of the system; every
// fault chosen stops root as well.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "serial/detector_profile.h"
#include "support/file_text.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {
namespace {

const std::string kOverLimit((size_t{16} << 20) + 1, '\n');

void Collect(const char* pszText, void* pContext) { static_cast<std::string*>(pContext)->append(pszText); }

template <typename F>
std::string CapturedDebugText(F f) {
    std::string sText;
    platform::SetDebugCapture(Collect, &sText);
    f();
    platform::SetDebugCapture(nullptr, nullptr);
    return sText;
}

size_t Occurrences(const std::string& sText, const std::string& sPart) {
    size_t n = 0;
    for (size_t at = sText.find(sPart); at != std::string::npos; at = sText.find(sPart, at + 1)) ++n;
    return n;
}

struct UnreadCase {
    const char* pszName;
    void (*pfnMake)(const std::string& sPath);
    DWORD dwError;
    const char* pszReason;
};
const UnreadCase kUnreadCases[] = {
    {"larger than 16 MiB", [](const std::string& sPath) { WriteRaw(sPath, "[M97S01]\r\nk=v\r\n" + kOverLimit); },
     ERROR_FILE_TOO_LARGE, "more than the 16777216"},
    {"a directory", [](const std::string& sPath) { mkdir(sPath.c_str(), 0700); }, ERROR_ACCESS_DENIED,
     "Access is denied."},
};

TEST(DetectorProfileUnread, ReadsGiveTheDefaultAndTheCauseIsToldOnce) {
    for (const UnreadCase& c : kUnreadCases) {
        SCOPED_TRACE(c.pszName);
        const std::string sPath = UseFreshEnvironment() + "/" + kConfigFile;
        c.pfnMake(sPath);
        const std::string sDebug = CapturedDebugText([&] {
            for (int i = 0; i < 2; ++i) {
                char szValue[16] = {};
                GetDetectorProfileString(97, 1, "k", "dflt", szValue, sizeof szValue);
                EXPECT_STREQ(szValue, "dflt");
                EXPECT_EQ(GetLastError(), c.dwError);
            }
        });
        EXPECT_EQ(Occurrences(sDebug, sPath), 1u) << sDebug;
        EXPECT_NE(sDebug.find(c.pszReason), std::string::npos) << sDebug;
    }
}

bool MountReadOnly(const std::string& sDir) {
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(sDir.c_str(), sDir.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, sDir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

struct WriteFaultCase {
    const char* pszName;
    bool (*pfnMake)(const std::string& sDir);  // false: this system cannot make the fault
    DWORD dwError;
    const char* pszReason;
};
const WriteFaultCase kWriteFaults[] = {
    {"folder on a read-only mount", MountReadOnly, ERROR_WRITE_PROTECT, "The media is write protected."},
    {"folder is a file", [](const std::string& sDir) { return rmdir(sDir.c_str()) == 0 && (WriteRaw(sDir, ""), true); },
     ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {"file over the size limit",
     [](const std::string& sDir) { return WriteRaw(sDir + "/" + kConfigFile, kOverLimit), true; },
     ERROR_FILE_TOO_LARGE, "The file size exceeds the limit"},
};

// In a child: "skip", or whether the value was stored, the last error and
// the debug text.
std::string WriteInChild(const WriteFaultCase& c, const std::string& sDir) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string sOut = "skip";
        if (c.pfnMake(sDir)) {
            bool bStored = true;
            DWORD dwError = 0;
            const std::string sDebug = CapturedDebugText([&] {
                bStored = WriteDetectorProfileString(97, 1, "Gain", "2");
                dwError = GetLastError();
            });
            sOut = std::to_string(bStored) + " " + std::to_string(dwError) + " " + sDebug;
        }
        _exit(write(fds[1], sOut.data(), sOut.size()) == static_cast<ssize_t>(sOut.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string sOut;
    char buffer[4096];
    for (ssize_t cb; (cb = read(fds[0], buffer, sizeof buffer)) > 0;) sOut.append(buffer, static_cast<size_t>(cb));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return sOut;
}

TEST(DetectorProfileWrite, FailureIsReturnedAndToldWithPathAndReason) {
    for (const WriteFaultCase& c : kWriteFaults) {
        SCOPED_TRACE(c.pszName);
        const std::string sDir = UseFreshEnvironment();
        const std::string sOut = WriteInChild(c, sDir);
        if (sOut == "skip") {
            printf("%s: not made here (a private mount needs CAP_SYS_ADMIN)\n", c.pszName);
            continue;
        }
        int nStored = -1;
        DWORD dwError = 0;
        std::istringstream(sOut) >> nStored >> dwError;
        EXPECT_EQ(nStored, 0) << sOut;
        EXPECT_EQ(dwError, c.dwError) << sOut;
        EXPECT_NE(sOut.find("Gain of [M97S01] was not stored: " + sDir + "/" + kConfigFile), std::string::npos)
            << sOut;
        EXPECT_NE(sOut.find(c.pszReason), std::string::npos) << sOut;
    }
}

}  // namespace
}  // namespace test
}  // namespace linkbay
