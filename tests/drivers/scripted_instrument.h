// A scripted instrument at the far end of a pty: it reads the driver's
// commands (split at a terminator byte), records them, and answers each with
// the next scripted reply for that command. Drivers' tests use it to assert
// the exact bytes on the wire without a full simulator.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_peer.h"

namespace linkbay {
namespace test {

class ScriptedInstrument {
public:
    // Answers a command that has no script; the default answers nothing.
    using Fallback = std::function<std::string(const std::string& sCommand)>;

    explicit ScriptedInstrument(int nPort, char chTerminator = '\r') : m_chTerminator(chTerminator) {
        m_peer.bindToPort(nPort);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedInstrument() {
        m_bStop = true;
        m_thread.join();
    }
    ScriptedInstrument(const ScriptedInstrument&) = delete;
    ScriptedInstrument& operator=(const ScriptedInstrument&) = delete;

    // Replies to the command (without its terminator), used in turn; the
    // last one repeats. An empty reply is silence.
    void Script(const std::string& sCommand, std::vector<std::string> replies) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script[sCommand] = std::deque<std::string>(replies.begin(), replies.end());
    }
    void Script(const std::string& sCommand, const std::string& sReply) { Script(sCommand, std::vector<std::string>{sReply}); }
    void SetFallback(Fallback fallback) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fallback = std::move(fallback);
    }

    // The line settings the device side has made.
    LineSettings Settings() const { return m_peer.settings(); }

    // Commands received so far, without terminators; Clear forgets them.
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.clear();
    }

private:
    void Serve() {
        std::string sPending;
        while (!m_bStop) {
            sPending += m_peer.read(4096, 2);
            size_t nEnd;
            while ((nEnd = sPending.find(m_chTerminator)) != std::string::npos) {
                const std::string sCommand = sPending.substr(0, nEnd);
                sPending.erase(0, nEnd + 1);
                const std::string sReply = Answer(sCommand);
                if (!sReply.empty()) m_peer.write(sReply);
            }
        }
    }

    std::string Answer(const std::string& sCommand) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(sCommand);
        auto it = m_script.find(sCommand);
        if (it == m_script.end() || it->second.empty()) return m_fallback ? m_fallback(sCommand) : std::string();
        std::string sReply = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        return sReply;
    }

    PtyPeer m_peer;
    const char m_chTerminator;
    std::mutex m_mutex;
    std::map<std::string, std::deque<std::string>> m_script;
    Fallback m_fallback;
    std::vector<std::string> m_received;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

}  // namespace test
}  // namespace linkbay
