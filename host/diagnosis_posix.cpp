// The POSIX side of the diagnosis: everything is read from the file system
// and /proc, and no port is opened, so no check can take a port from a host.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "commands.h"
#include "diagnosis.h"

namespace linkbay_host {
namespace {

std::string Variable(const char* pszName) {
    const char* pszValue = getenv(pszName);
    return pszValue != nullptr ? pszValue : "";
}

std::string DevicePath(int nPort) {
    const std::string sDevice = Variable(("LINKBAY_COM" + std::to_string(nPort)).c_str());
    return !sDevice.empty() ? sDevice : "/dev/ttyS" + std::to_string(nPort - 1);
}

struct FileKind {
    mode_t type;
    const char* pszName;
};
constexpr FileKind kFileKinds[] = {
    {S_IFREG, "a regular file"}, {S_IFDIR, "a directory"}, {S_IFBLK, "a block device"},
    {S_IFIFO, "a FIFO"},         {S_IFSOCK, "a socket"},   {S_IFCHR, "a character device that is no terminal"},
};

const char* KindOf(mode_t mode) {
    for (const FileKind& kind : kFileKinds)
        if ((mode & S_IFMT) == kind.type) return kind.pszName;
    return "no device";
}

// The kernel lists its terminal drivers with their device numbers; when the
// list cannot be read, every character device passes.
bool IsTerminalDevice(dev_t device) {
    std::ifstream drivers("/proc/tty/drivers");
    if (!drivers) return true;
    for (std::string sLine; std::getline(drivers, sLine);) {
        unsigned nMajor = 0, nFirst = 0, nLast = 0;
        const int nFields = sscanf(sLine.c_str(), "%*s %*s %u %u-%u", &nMajor, &nFirst, &nLast);
        if (nFields < 2) continue;
        if (nFields == 2) nLast = nFirst;
        if (major(device) == nMajor && minor(device) >= nFirst && minor(device) <= nLast) return true;
    }
    return false;
}

std::string ProcessName(long nPid) {
    std::ifstream comm("/proc/" + std::to_string(nPid) + "/comm");
    std::string sName;
    std::getline(comm, sName);
    return sName.empty() ? "" : ", " + sName;
}

// A lock on the file that another process holds, as the kernel lists it;
// "" when none. Read, never taken: a host's open is not disturbed.
std::string LockHolder(const struct stat& file, uint32_t dwSharingPid) {
    std::ifstream locks("/proc/locks");
    for (std::string sLine; std::getline(locks, sLine);) {
        char szClass[16] = "";
        long nPid = 0;
        unsigned nMajor = 0, nMinor = 0;
        unsigned long long nInode = 0;
        if (sscanf(sLine.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%llu", szClass, &nPid, &nMajor, &nMinor, &nInode) != 5)
            continue;  // waiters ("->") and unreadable lines
        if (nMajor != major(file.st_dev) || nMinor != minor(file.st_dev) || nInode != file.st_ino) continue;
        if (nPid == getpid() || (nPid > 0 && static_cast<uint32_t>(nPid) == dwSharingPid)) continue;
        return nPid > 0 ? "process " + std::to_string(nPid) + ProcessName(nPid)
                        : std::string("a process that the system does not name");
    }
    return "";
}

}  // namespace

std::string ConfigurationDirectory() {
    const std::string sDir = Variable("LINKBAY_WINDIR");
    if (!sDir.empty()) return sDir;
    const std::string sConfig = Variable("XDG_CONFIG_HOME");
    if (!sConfig.empty()) return sConfig + "/linkbay";
    const std::string sHome = Variable("HOME");
    return !sHome.empty() ? sHome + "/.config/linkbay" : "$HOME/.config/linkbay";
}

std::string ConfigurationFile() { return ConfigurationDirectory() + "/DETHUB.INI"; }

std::string DeviceRemedy(int nPort) {
    return "set LINKBAY_COM" + std::to_string(nPort) + " to the instrument's serial device";
}

PortCheck CheckPortDevice(int nPort, uint32_t dwSharingPid) {
    PortCheck check;
    check.sDevice = DevicePath(nPort);
    struct stat file {};
    if (stat(check.sDevice.c_str(), &file) != 0) {
        check.fault = errno == ENOENT ? PortFault::Missing : PortFault::Unexamined;
        check.sDetail = strerror(errno);
    } else if (!S_ISCHR(file.st_mode) || !IsTerminalDevice(file.st_rdev)) {
        check.fault = PortFault::NotTerminal;
        check.sDetail = KindOf(file.st_mode);
    } else if (access(check.sDevice.c_str(), R_OK | W_OK) != 0) {
        check.fault = PortFault::NoAccess;
        check.sDetail = strerror(errno);
    } else if (!(check.sDetail = LockHolder(file, dwSharingPid)).empty()) {
        check.fault = PortFault::Held;
    }
    return check;
}

bool IsSharedMemory(const void* p) {
    std::ifstream maps("/proc/self/maps");
    if (!maps) return true;  // nothing to tell from: no alarm
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    for (std::string sLine; std::getline(maps, sLine);) {
        uintptr_t first = 0, end = 0;
        char szPermissions[8] = "";
        if (sscanf(sLine.c_str(), "%" SCNxPTR "-%" SCNxPTR " %7s", &first, &end, szPermissions) != 3) continue;
        if (address >= first && address < end) return szPermissions[3] == 's';
    }
    return false;
}

}  // namespace linkbay_host
