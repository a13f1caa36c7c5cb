// Feeds the binary-protocol drivers (ZEPH, TAVO, PELLUX) arbitrary replies:
// an instrument on a pseudo-terminal in this process answers each request the
// driver sends with the next reply the input describes (for ZEPH: sync word
// right or wrong, accepted or rejected; for the numbered commands: any error
// pair and data at the announced length; for both: whole or cut short), while
// the driver runs one operation chosen by the input: any command of its
// family's command set with arguments in range, a spectrum read or an
// activity query. The replies run out into refusals, so every input ends
// quickly; the sanitizers catch any read or write past a buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drivers/family_registry.h"
#include "drivers/zeph/zephci.h"
#include "serial/rs232ci.h"

namespace {

using namespace linkbay;

constexpr size_t kZephFrame = 12;
constexpr size_t kZephReply = 136;
constexpr size_t kLimit = 1024;  // the longest numbered-command frame or reply
constexpr int32_t kChannels = 4096;

const int32_t kFamilies[] = {LINKBAY_DEVICE_ZEPH, LINKBAY_DEVICE_TAVO, LINKBAY_DEVICE_PELLUX};

// What the input says of one reply: bit 0 spoils ZEPH's sync word, bit 1
// refuses, bit 2 cuts the reply to its payload.
struct ReplySpec {
    uint8_t nFlags = 2;  // a refusal, when the input has run out
    std::vector<uint8_t> payload;
};

void Require(bool bCondition) {
    if (!bCondition) __builtin_trap();
}

uint32_t Big32(const uint8_t* pb) {
    return (uint32_t{pb[0]} << 24) | (uint32_t{pb[1]} << 16) | (uint32_t{pb[2]} << 8) | pb[3];
}

// A reply of the family's shape: ZEPH's 136-byte frame, or the numbered
// command's announced length starting with its error pair.
std::vector<uint8_t> BuildReply(bool bZeph, const ReplySpec& spec, size_t cbAnnounced) {
    const size_t cbWhole = bZeph ? kZephReply : cbAnnounced;
    std::vector<uint8_t> reply(cbWhole, 0);
    const size_t nAt = bZeph ? 2 : 0;
    const size_t cbPayload = std::min(spec.payload.size(), cbWhole - nAt);
    if (cbPayload > 0) std::memcpy(reply.data() + nAt, spec.payload.data(), cbPayload);
    if (bZeph) {
        reply[0] = (spec.nFlags & 1) ? 0x00 : 0xA5;
        reply[1] = 0x5A;
        if (spec.nFlags & 2) reply[134] = reply[135] = 0xAA;
    } else if (spec.nFlags & 2 && cbWhole >= 2) {
        reply[0] = 131;
        reply[1] = 133;
    }
    if (spec.nFlags & 4) reply.resize(std::min(reply.size(), nAt + cbPayload));
    return reply;
}

// The instrument's end of the line: one reply per frame heard, in order.
class Responder {
public:
    Responder() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        Require(m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0);
        setenv("LINKBAY_COM1", ptsname(m_master), 1);
        // The device side stays open so that the line never hangs up between inputs.
        m_device = open(ptsname(m_master), O_RDWR | O_NOCTTY);
        m_thread = std::thread([this] { Serve(); });
    }

    void SetReplies(bool bZeph, std::vector<ReplySpec> replies) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bZeph = bZeph;
        m_replies = std::move(replies);
        m_nNext = 0;
        ++m_nGeneration;
    }

private:
    // Exactly cb bytes of the request, or false when a new input began meanwhile
    // (its requests may be framed otherwise).
    bool ReadExactly(uint8_t* pb, size_t cb, uint64_t nGeneration) {
        for (size_t nHave = 0; nHave < cb;) {
            if (m_nGeneration.load() != nGeneration) return false;
            pollfd pfd{m_master, POLLIN, 0};
            if (poll(&pfd, 1, 5) <= 0) continue;
            const ssize_t n = read(m_master, pb + nHave, cb - nHave);
            if (n <= 0) return false;
            nHave += static_cast<size_t>(n);
        }
        return true;
    }

    // One request of the family's framing, and the reply length it announces.
    bool ReadRequest(bool bZeph, uint64_t nGeneration, size_t& cbAnnounced) {
        uint8_t ab[kLimit];
        if (bZeph) return ReadExactly(ab, kZephFrame, nGeneration);
        if (!ReadExactly(ab, 8, nGeneration)) return false;
        const uint32_t cbFrame = Big32(ab);
        cbAnnounced = std::min<size_t>(Big32(ab + 4), kLimit);
        return cbFrame >= 8 && cbFrame <= kLimit && ReadExactly(ab + 8, cbFrame - 8, nGeneration);
    }

    void Serve() {
        for (;;) {
            bool bZeph = true;
            uint64_t nGeneration = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                bZeph = m_bZeph;
                nGeneration = m_nGeneration.load();
            }
            size_t cbAnnounced = 2;
            if (!ReadRequest(bZeph, nGeneration, cbAnnounced)) continue;
            ReplySpec spec;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_nNext < m_replies.size()) spec = m_replies[m_nNext++];
            }
            const std::vector<uint8_t> reply = BuildReply(bZeph, spec, cbAnnounced);
            if (!reply.empty()) (void)!write(m_master, reply.data(), reply.size());
        }
    }

    int m_master = -1;
    int m_device = -1;
    std::mutex m_mutex;
    bool m_bZeph = true;
    std::atomic<uint64_t> m_nGeneration{0};
    std::vector<ReplySpec> m_replies;
    size_t m_nNext = 0;
    std::thread m_thread;
};

Responder& TheResponder() {
    static Responder* s_pResponder = [] {
        setenv("LINKBAY_IPC_NAMESPACE", ("reply-fuzz-" + std::to_string(getpid())).c_str(), 1);
        return new Responder();
    }();
    return *s_pResponder;
}

ReplySpec NextReply(FuzzedDataProvider& data) {
    ReplySpec spec;
    spec.nFlags = data.ConsumeIntegral<uint8_t>();
    spec.payload = data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, 600));
    return spec;
}

const char* WordOf(const WordEntry* pWords, int32_t nWords, int32_t nId) {
    for (int32_t i = 0; i < nWords; ++i) {
        if (pWords[i].nId == nId) return pWords[i].pszWord;
    }
    return nullptr;
}

// A line for one row of the command set, its arguments within their ranges.
std::string LineFor(const CommandSet& set, const CommandEntry& row, FuzzedDataProvider& data) {
    std::string sLine = WordOf(set.pVerbs, set.nVerbs, row.nVerb);
    if (row.nNoun != 0) sLine += std::string("_") + WordOf(set.pNouns, set.nNouns, row.nNoun);
    if (row.nModifier != 0) sLine += std::string("_") + WordOf(set.pModifiers, set.nModifiers, row.nModifier);
    const int32_t nArgs = data.ConsumeIntegralInRange<int32_t>(row.nMinArgs, row.nMaxArgs);
    for (int32_t i = 0; i < nArgs; ++i) {
        // Whole numbers within the range, which for single-precision rows is held to 32 bits.
        const RangeEntry& range = set.pRanges[row.range[i]];
        const double dMin = std::max(range.dMin, -2147483648.0);
        const double dMax = std::min(range.dMax, 4294967295.0);
        const int64_t n = data.ConsumeIntegralInRange<int64_t>(static_cast<int64_t>(std::ceil(dMin)),
                                                              static_cast<int64_t>(std::floor(dMax)));
        sLine += (i == 0 ? " " : ",") + std::to_string(n);
    }
    return sLine;
}

const CommandEntry& RowAt(const CommandSet& set, int32_t n) {
    if (n < set.nCommandsA) return set.pCommandsA[n];
    n -= set.nCommandsA;
    if (n < set.nCommandsB) return set.pCommandsB[n];
    return set.pCommandsC[n - set.nCommandsB];
}

// What the driver is asked, drawn before the replies.
struct Operation {
    int32_t nDeviceType = LINKBAY_DEVICE_ZEPH;
    int32_t nKind = 0;  // 0 spectrum read, 1 activity query, 2... a command row
    std::string sLine;
    int32_t nFirst = 0;
    int32_t nCount = 0;
    int32_t nRespSize = 0;
};

Operation DrawOperation(FuzzedDataProvider& data) {
    Operation op;
    op.nDeviceType = data.PickValueInArray(kFamilies);
    const CommandSet& set = *FindFamilyDriver(op.nDeviceType)->pCommandSet;
    const int32_t nRows = set.nCommandsA + set.nCommandsB + set.nCommandsC;
    op.nKind = data.ConsumeIntegralInRange<int32_t>(0, nRows + 1);
    if (op.nKind >= 2) op.sLine = LineFor(set, RowAt(set, op.nKind - 2), data);
    op.nCount = data.ConsumeIntegralInRange<int32_t>(0, kChannels);
    op.nFirst = data.ConsumeIntegralInRange<int32_t>(0, kChannels - op.nCount);
    op.nRespSize = data.ConsumeIntegralInRange<int32_t>(0, 200);
    return op;
}

void Run(RS232CI& driver, const Operation& op) {
    if (op.nKind == 0) {
        std::vector<uint32_t> dest(static_cast<size_t>(op.nCount) + 1, 0xDEADBEEF);
        const int32_t nResult = driver.ReadData(1, 0, op.nFirst, op.nCount, dest.data());
        Require(nResult == 1 || nResult == -3);  // the numbered commands always answer 1
        Require(dest[static_cast<size_t>(op.nCount)] == 0xDEADBEEF);
        return;
    }
    if (op.nKind == 1) {
        int32_t nStatus = 0;
        driver.IsActive(1, &nStatus);
        Require(nStatus == 1 || nStatus == -3);
        return;
    }
    // The response buffer is a heap block of exactly the size the driver is told.
    std::unique_ptr<char[]> pResp(new char[static_cast<size_t>(op.nRespSize)]);
    int32_t nLen = -1, nMac = 0, nMic = 0;
    driver.ExecLine(1, op.sLine.c_str(), op.nRespSize, pResp.get(), &nLen, &nMac, &nMic);
    Require(nLen <= op.nRespSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    Responder& responder = TheResponder();
    FuzzedDataProvider data(pData, nSize);
    const Operation op = DrawOperation(data);
    // ZEPH's attaching status read takes the first reply; then the operation's.
    std::vector<ReplySpec> replies;
    while (data.remaining_bytes() > 2 && replies.size() < 200) replies.push_back(NextReply(data));
    const bool bZeph = op.nDeviceType == LINKBAY_DEVICE_ZEPH;
    responder.SetReplies(bZeph, std::move(replies));

    std::unique_ptr<RS232CI> pDriver(FindFamilyDriver(op.nDeviceType)->pfnCreate(97));
    Require(pDriver != nullptr);
    // No cache from an earlier input.
    if (auto* pZeph = dynamic_cast<ZEPHCI*>(pDriver.get())) {
        Require(pZeph->m_pCommonData != nullptr);
        std::memset(pZeph->m_pCommonData, 0, sizeof *pZeph->m_pCommonData);
    }
    pDriver->Attach(RS232CI::COMOpen(1));
    if (RS232CI::IsPortHandle(pDriver->m_hPort)) {
        // Replies cut short are waited for 20 ms, not the instruments' second and more.
        COMMTIMEOUTS timeouts = {20, 0, 20, 0, 1000};
        SetCommTimeouts(pDriver->m_hPort, &timeouts);
    }
    Run(*pDriver, op);
    return 0;
}
