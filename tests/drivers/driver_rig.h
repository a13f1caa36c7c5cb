// A driver on COM1 against the simulator program of its family on the other
// end of the line: both sides were written apart, so the tests assert the exact bytes
// the instrument heard and sent, the record the driver answered and the state
// the instrument was left in. The program is steered over its control port
// (its fault plan stands in for any misbehaving instrument), so the rig works
// alike natively and in the Wine lane, where the program runs beside Wine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cmdlang/records.h"
#include "serial/rs232ci.h"
#include "sim/byte_escapes.h"
#include "support/debug_sink.h"
#include "support/record_text.h"
#include "support/sim_program.h"
#include "support/test_env.h"

namespace linkbay {
namespace test {

using Texts = std::vector<std::string>;

constexpr int kPort = 1;
constexpr int32_t kMcb = 97;
const char kMcbSection[] = "M97S01";  // the driver's detector section of DETHUB.INI
constexpr uint64_t kLongestAdvanceMs = 3600000;  // the most one "advance" takes
constexpr int kSettleMs = 10;       // how long the wire log stays still to count as settled
constexpr int kSettleLimitMs = 10000;

struct Result {
    bool bOk = false;
    std::string sResp;
    int32_t nMac = 0;
    int32_t nMic = 0;
    int32_t nLen = -1;  // in an expectation, -1: not checked
};

const Result kDone{true, "", 0, 0};
const Result kRejected{false, "", -1, 0};  // the instrument refused
inline Result Shown(const std::string& sRecord) { return {true, sRecord, 0, 0}; }
// A line the driver turns down itself, with the error pair's second half.
inline Result BadLine(int32_t nMic) { return {true, "", 131, nMic}; }

inline void ExpectResult(const Result& r, const Result& expected) {
    EXPECT_EQ(r.bOk, expected.bOk);
    EXPECT_EQ(r.sResp, expected.sResp);
    EXPECT_EQ(r.nMac, expected.nMac);
    EXPECT_EQ(r.nMic, expected.nMic);
    if (expected.nLen >= 0) {
        EXPECT_EQ(r.nLen, expected.nLen);
    }
}

inline Texts Join(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string Unescaped(const std::string& sText) {
    std::string sBytes;
    return sim::UnescapeBytes(sText, sBytes) ? sBytes : "<malformed escape in " + sText + ">";
}

// The step that makes the instrument answer the nth exchange from now with
// these bytes: one word of the control protocol, so a space goes as \x20.
inline std::string ReplyStep(int nExchange, const std::string& sBytes) {
    std::string sWord;
    for (char c : sim::EscapeBytes(sBytes)) sWord += c == ' ' ? std::string("\\x20") : std::string(1, c);
    return "fault +" + std::to_string(nExchange) + " reply " + sWord;
}

// The debug messages in a stretch of debug output: each ends with a line
// break, and lines that go on with a message start with four blanks.
inline Texts Messages(const std::string& sText) {
    Texts messages;
    for (size_t nAt = 0, nEnd = 0; nAt < sText.size(); nAt = nEnd) {
        nEnd = std::min(sText.find("\r\n", nAt), sText.size() - 2) + 2;
        const std::string sLine = sText.substr(nAt, nEnd - nAt);
        if (messages.empty() || !StartsWith(sLine, "    ")) messages.emplace_back();
        messages.back() += sLine;
    }
    return messages;
}

inline void ExpectMessagesStartWith(const Texts& messages, const Texts& prefixes) {
    ASSERT_EQ(messages.size(), prefixes.size());
    for (size_t i = 0; i < messages.size(); ++i) EXPECT_TRUE(StartsWith(messages[i], prefixes[i])) << messages[i];
}

// The simulator program on COM1 with a driver on the other end of its line,
// in an environment of its own; the other tests of this process get theirs back.
template <class DriverClass>
class DriverRig {
public:
    explicit DriverRig(const std::string& sFamily, bool bAttach = true, const char* pszBaudIni = nullptr)
        : m_pDebug(&DebugSink::Start(m_env.dir())) {
        ForgetProfileKeys();
        if (pszBaudIni != nullptr) WritePrivateProfileStringA("CONFIG", "BaudRate", pszBaudIni, "DETHUB.INI");
        m_sim = std::make_unique<SimulatorProgram>(kPort, Texts{"--no-pacing", "--manual-clock"}, sFamily);
        EXPECT_TRUE(m_sim->ready()) << m_sim->problem();
        m_driver = std::make_unique<DriverClass>(kMcb);
        if (bAttach) {
            Attach();
            EXPECT_TRUE(Present());
        }
        Mark();
    }
    ~DriverRig() {
        m_driver.reset();
        m_sim.reset();
        ForgetProfileKeys();
    }

    DriverClass& Driver() { return *m_driver; }
    std::string Control(const std::string& sLine) { return m_sim->control(sLine); }
    void Attach() {
        m_bSettled = false;
        m_driver->Attach(RS232CI::COMOpen(kPort));
    }
    bool Present() { return m_driver->IsUnitPresent(1); }
    Result Exec(const std::string& sLine, int32_t nSize = 256) {
        m_bSettled = false;
        Result r;
        std::vector<char> buffer(static_cast<size_t>(nSize) + 1, '\0');
        r.bOk = m_driver->ExecLine(1, sLine.c_str(), nSize, buffer.data(), &r.nLen, &r.nMac, &r.nMic);
        r.sResp = buffer.data();
        return r;
    }
    // The line, or attaching when there is none: then the result's bOk says
    // whether the driver took the instrument.
    Result ExecOrAttach(const char* pszLine) {
        if (pszLine != nullptr) return Exec(pszLine);
        Attach();
        return {Present(), "", 0, 0};
    }
    int32_t ReadData(int32_t nCount, uint32_t* pdwData) {
        m_bSettled = false;
        return m_driver->ReadData(1, 0, 0, nCount, pdwData);
    }

    // One step of a case's set-up, which the instrument must take: "> LINE"
    // is a command line through the driver, "advance MS" lets any time pass,
    // "fault +N ..." plans a fault on the nth exchange from now, and anything
    // else is a control command ("request XX ..." sets the instrument up past
    // the line).
    void Step(std::string sStep) {
        if (StartsWith(sStep, "> ")) {
            const Result r = Exec(sStep.substr(2));
            EXPECT_TRUE(r.bOk && r.nMac == 0) << sStep;
            return;
        }
        if (StartsWith(sStep, "advance ")) {
            for (uint64_t nMs = std::stoull(sStep.substr(8)), nPart = 0; nMs > 0; nMs -= nPart) {
                nPart = std::min(nMs, kLongestAdvanceMs);
                EXPECT_EQ(Control("advance " + std::to_string(nPart)), "ok\n");
            }
            return;
        }
        if (StartsWith(sStep, "fault +")) {
            const uint64_t nDone = std::strtoull(OkValue(Control("exchanges")).c_str(), nullptr, 10);
            const size_t nEnd = sStep.find(' ', 7);
            sStep = "fault " + std::to_string(nDone + std::stoull(sStep.substr(7, nEnd - 7))) + sStep.substr(nEnd);
        }
        const std::string sReply = Control(sStep);
        EXPECT_TRUE(StartsWith(sReply, "ok") && sReply.find("??") == std::string::npos) << sStep << ": " << sReply;
    }
    void Steps(const Texts& steps) { for (const std::string& sStep : steps) Step(sStep); }

    // The instrument logs what it heard before it answers, so what the
    // driver sent is complete once its call returns; a reply is logged only
    // after it was written, so the driver may have had it first.
    void Mark() {
        Settle();
        m_sMark = OkValue(Control("mark"));
    }
    std::string Sent() { return Unescaped(OkValue(Control("sent " + m_sMark))); }
    std::string Replied() {
        Settle();
        return Unescaped(OkValue(Control("replied " + m_sMark)));
    }
    // A poll with a deadline: past it the log is taken as it stands, and the
    // expectation on it says what was missing.
    void Settle() {
        if (m_bSettled) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleLimitMs);
        for (std::string sSeen = Control("mark"); !m_bSettled && std::chrono::steady_clock::now() < deadline;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
            const std::string sNow = Control("mark");
            m_bSettled = sNow == sSeen;
            sSeen = sNow;
        }
        m_bSettled = true;
    }

    void SetCounts(const std::vector<uint32_t>& counts) {
        std::string sLine = "set-counts 0";
        for (uint32_t n : counts) sLine += " " + std::to_string(n);
        Step(sLine);
    }

    // Where the debug output stands now, and the messages since.
    size_t DebugMark() const { return m_pDebug->text().size(); }
    Texts DebugSince(size_t nMark) const { return Messages(m_pDebug->text().substr(nMark)); }
    std::string DebugTextSince(size_t nMark) const { return m_pDebug->text().substr(nMark); }

private:
    // Under Wine every rig shares DETHUB.INI of the Windows directory: no
    // rate or integral preset of another rig may reach this one's driver.
    static void ForgetProfileKeys() {
        WritePrivateProfileStringA("CONFIG", "BaudRate", nullptr, "DETHUB.INI");
        WritePrivateProfileStringA(kMcbSection, "KRIntPreset", nullptr, "DETHUB.INI");
    }

    ScopedFreshEnvironment m_env;
    DebugSink* m_pDebug;
    std::unique_ptr<SimulatorProgram> m_sim;
    std::unique_ptr<DriverClass> m_driver;
    std::string m_sMark = "0";
    bool m_bSettled = false;
};

// Reads out of range, detectors the driver does not serve and writes are
// refused without a byte on the line.
template <class Rig>
void ExpectBadArgumentsSendNothing(Rig& rig) {
    struct Case { int32_t nDet, nSegment, nFirst, nCount, nResult; };
    const Case cases[] = {
        {2, 0, 0, 10, -1}, {1, 1, 0, 10, -1}, {1, 0, 4000, 97, -1}, {1, 0, -1, 10, -1},
        {1, 0, 0x7FFFFFF0, 0x20, -1}, {1, 0, 0, 0, 1}, {1, 0, 100, -5, 1},
    };
    for (const Case& c : cases) {
        uint32_t dwDest[4] = {7, 7, 7, 7};
        EXPECT_EQ(rig.Driver().ReadData(c.nDet, c.nSegment, c.nFirst, c.nCount, dwDest), c.nResult);
        EXPECT_EQ(dwDest[0], 7u);
    }
    EXPECT_EQ(rig.Driver().ReadData(1, 0, 0, 4, nullptr), -1);
    EXPECT_EQ(rig.Driver().WriteData(1, 0, 0, 1, 0, nullptr), -10);
    int32_t nLen = 0, nMac = 0, nMic = 0;
    char sz[64] = {};
    EXPECT_FALSE(rig.Driver().ExecLine(2, "CLEAR", sizeof sz, sz, &nLen, &nMac, &nMic));
    EXPECT_EQ(nMac, -1);
    EXPECT_EQ(rig.Sent(), "");
}

// The counts a test gives the instrument: spread over the width's range.
inline uint32_t Pattern(uint32_t nChannel, uint64_t nModulus) {
    return static_cast<uint32_t>((uint64_t(nChannel) * 2654435761u + 12345) % nModulus);
}

}  // namespace test
}  // namespace linkbay
