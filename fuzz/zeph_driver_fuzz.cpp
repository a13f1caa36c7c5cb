// Feeds the ZEPH driver arbitrary replies: an instrument on a pseudo-terminal
// in this process answers each frame the driver sends with the next reply the
// input describes (right or wrong sync word, accepted or rejected, whole or
// cut short), while the driver runs one operation chosen by the input: any
// command of its command set with arguments in range, a spectrum read or an
// activity query. The replies run out into rejections, so every input ends
// quickly; the sanitizers catch any read or write past a buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drivers/zeph/zeph_tables.h"
#include "drivers/zeph/zephci.h"

namespace {

using namespace linkbay;

constexpr size_t kFrame = 12;
constexpr size_t kReply = 136;

void Require(bool bCondition) {
    if (!bCondition) __builtin_trap();
}

std::vector<uint8_t> RejectedReply() {
    std::vector<uint8_t> reply(kReply, 0);
    reply[0] = 0xA5;
    reply[1] = 0x5A;
    reply[134] = reply[135] = 0xAA;
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

    void SetReplies(std::vector<std::vector<uint8_t>> replies) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies = std::move(replies);
        m_nNext = 0;
    }

private:
    void Serve() {
        uint8_t abFrame[kFrame];
        size_t nHave = 0;
        for (;;) {
            pollfd pfd{m_master, POLLIN, 0};
            if (poll(&pfd, 1, -1) <= 0) continue;
            const ssize_t n = read(m_master, abFrame + nHave, kFrame - nHave);
            if (n <= 0) continue;
            nHave += static_cast<size_t>(n);
            if (nHave < kFrame) continue;
            nHave = 0;
            std::vector<uint8_t> reply;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                reply = m_nNext < m_replies.size() ? m_replies[m_nNext++] : RejectedReply();
            }
            if (!reply.empty()) (void)!write(m_master, reply.data(), reply.size());
        }
    }

    int m_master = -1;
    int m_device = -1;
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_replies;
    size_t m_nNext = 0;
    std::thread m_thread;
};

Responder& TheResponder() {
    static Responder* s_pResponder = [] {
        setenv("LINKBAY_IPC_NAMESPACE", ("zeph-fuzz-" + std::to_string(getpid())).c_str(), 1);
        return new Responder();
    }();
    return *s_pResponder;
}

// A reply: a flags byte (bit 0 spoils the sync word, bit 1 rejects, bit 2
// cuts the reply to its payload), a payload length and the payload, which
// starts after the sync word.
std::vector<uint8_t> NextReply(FuzzedDataProvider& data) {
    const uint8_t nFlags = data.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> payload = data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, kReply - 2));
    std::vector<uint8_t> reply(kReply, 0);
    reply[0] = (nFlags & 1) ? 0x00 : 0xA5;
    reply[1] = 0x5A;
    if (!payload.empty()) std::memcpy(reply.data() + 2, payload.data(), payload.size());
    if (nFlags & 2) reply[134] = reply[135] = 0xAA;
    if (nFlags & 4) reply.resize(payload.size());
    return reply;
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
        const RangeEntry& range = set.pRanges[row.range[i]];
        const int64_t n = data.ConsumeIntegralInRange<int64_t>(static_cast<int64_t>(range.dMin),
                                                              static_cast<int64_t>(range.dMax));
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
    int32_t nKind = 0;  // 0 spectrum read, 1 activity query, 2... a command row
    std::string sLine;
    int32_t nFirst = 0;
    int32_t nCount = 0;
    int32_t nRespSize = 0;
};

Operation DrawOperation(FuzzedDataProvider& data) {
    const CommandSet& set = kZephCommandSet;
    const int32_t nRows = set.nCommandsA + set.nCommandsB + set.nCommandsC;
    Operation op;
    op.nKind = data.ConsumeIntegralInRange<int32_t>(0, nRows + 1);
    if (op.nKind >= 2) op.sLine = LineFor(set, RowAt(set, op.nKind - 2), data);
    op.nCount = data.ConsumeIntegralInRange<int32_t>(0, kZephChannels);
    op.nFirst = data.ConsumeIntegralInRange<int32_t>(0, kZephChannels - op.nCount);
    op.nRespSize = data.ConsumeIntegralInRange<int32_t>(0, 200);
    return op;
}

void Run(ZEPHCI& zeph, const Operation& op) {
    if (op.nKind == 0) {
        std::vector<uint32_t> dest(static_cast<size_t>(op.nCount) + 1, 0xDEADBEEF);
        const int32_t nResult = zeph.ReadData(1, 0, op.nFirst, op.nCount, dest.data());
        Require(nResult == 1 || nResult == -3);
        Require(dest[static_cast<size_t>(op.nCount)] == 0xDEADBEEF);
        return;
    }
    if (op.nKind == 1) {
        int32_t nStatus = 0;
        zeph.IsActive(1, &nStatus);
        Require(nStatus == 1 || nStatus == -3);
        return;
    }
    // The response buffer is a heap block of exactly the size the driver is told.
    std::unique_ptr<char[]> pResp(new char[static_cast<size_t>(op.nRespSize)]);
    int32_t nLen = -1, nMac = 0, nMic = 0;
    zeph.ExecLine(1, op.sLine.c_str(), op.nRespSize, pResp.get(), &nLen, &nMac, &nMic);
    Require(nLen <= op.nRespSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    Responder& responder = TheResponder();
    FuzzedDataProvider data(pData, nSize);
    const Operation op = DrawOperation(data);
    // The attaching status read is the first reply; then the operation's.
    std::vector<std::vector<uint8_t>> replies;
    while (data.remaining_bytes() > 2 && replies.size() < 200) replies.push_back(NextReply(data));
    responder.SetReplies(std::move(replies));

    ZEPHCI zeph(97);
    Require(zeph.m_pCommonData != nullptr);
    std::memset(zeph.m_pCommonData, 0, sizeof *zeph.m_pCommonData);  // no cache from an earlier input
    zeph.Attach(RS232CI::COMOpen(1));
    if (RS232CI::IsPortHandle(zeph.m_hPort)) {
        // Replies cut short are waited for 20 ms, not the instrument's 680.
        COMMTIMEOUTS timeouts = {20, 0, 20, 0, 1000};
        SetCommTimeouts(zeph.m_hPort, &timeouts);
    }
    Run(zeph, op);
    return 0;
}
