// Pseudo-terminal masters, the far ends of simulated serial lines: for the
// simulator, the test peers and the pty tools alike.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace linkbay {
namespace sim {

// A fresh pty master, raw from the start and non-blocking; its device path
// in devicePath. -1, with the reason in error, when there is none.
int OpenRawPtyMaster(std::string& devicePath, std::string& error);

enum class WriteEnd { kDone, kIdle, kFailed, kStopped };
// Writes the bytes as the reader takes them, until all are written, the
// reader has taken nothing for about idleLimitMs, a write fails, or stopping
// answers true; written counts the bytes that went.
WriteEnd WriteAsTaken(int fd, const char* bytes, size_t count, int idleLimitMs, size_t& written,
                      const std::function<bool()>& stopping = nullptr);
// What arrives, up to max bytes, until quietMs pass without any.
std::string ReadUntilQuiet(int fd, size_t max, int quietMs);
// Bytes waiting to be read.
size_t BytesWaiting(int fd);
// Points the symlink at the target, replacing it atomically so that a
// program opening it never finds it missing; false with the reason in error.
bool PointLinkAt(const std::string& link, const std::string& target, std::string& error);

// Owns a pty master opened as above.
class PtyMaster {
public:
    PtyMaster() = default;
    ~PtyMaster() { close(); }
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    bool open(std::string& error);
    // The device side sees a hang-up once no one else holds it open.
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const std::string& devicePath() const { return m_devicePath; }

private:
    int m_fd = -1;
    std::string m_devicePath;
};

}  // namespace sim
}  // namespace linkbay
