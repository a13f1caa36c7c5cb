// Feeds every family's driver arbitrary replies: a serial line kept in memory
// answers each request the driver sends with the next reply the input
// describes (for KORV: any text, ended by a line end or not; for ZEPH: sync
// word right or wrong, accepted or rejected; for the numbered commands: any
// error pair and data at the announced length; for all: whole or cut short),
// while the driver runs one operation chosen by the input: any command of its
// family's command set with arguments in range, a spectrum read or an
// activity query. The replies run out into silence or refusals, and a read
// that finds nothing ends at once, so every input ends quickly; the
// sanitizers catch any read or write past a buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmdlang/result_codes.h"
#include "drivers/family_registry.h"
#include "drivers/zeph/zephci.h"
#include "platform/test_hooks.h"
#include "serial/rs232ci.h"

namespace {

using namespace linkbay;

constexpr size_t kZephFrame = 12;
constexpr size_t kZephReply = 136;
constexpr size_t kLimit = 1024;  // the longest numbered-command frame or reply
constexpr int32_t kChannels = 4096;

const int32_t kFamilies[] = {LINKBAY_DEVICE_KORV, LINKBAY_DEVICE_ZEPH, LINKBAY_DEVICE_TAVO, LINKBAY_DEVICE_PELLUX};

enum class Framing { Korv, Zeph, Numbered };

Framing FramingOf(int32_t nDeviceType) {
    if (nDeviceType == LINKBAY_DEVICE_KORV) return Framing::Korv;
    return nDeviceType == LINKBAY_DEVICE_ZEPH ? Framing::Zeph : Framing::Numbered;
}

// What the input says of one reply: bit 0 spoils ZEPH's sync word, bit 1
// refuses (KORV: ends the text with a line end), bit 2 cuts the reply to its
// payload.
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

// A reply of the family's shape: KORV's text, ZEPH's 136-byte frame, or the
// numbered command's announced length starting with its error pair.
std::vector<uint8_t> BuildReply(Framing framing, const ReplySpec& spec, size_t cbAnnounced) {
    if (framing == Framing::Korv) {
        std::vector<uint8_t> reply = spec.payload;
        if (spec.nFlags & 2) reply.push_back('\n');
        return reply;
    }
    const bool bZeph = framing == Framing::Zeph;
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

// The instrument's end of the line, in this thread: each whole request heard
// puts the next reply on the line.
class Responder {
public:
    Responder() : m_line{Hear, Say, this} { platform::SetMemoryLine(&m_line); }

    void Begin(Framing framing, std::vector<ReplySpec> replies) {
        m_framing = framing;
        m_replies = std::move(replies);
        m_nNext = 0;
        m_heard.clear();
        m_said.clear();
        m_nSaidAt = 0;
    }

private:
    static void Hear(void* pContext, const BYTE* pData, DWORD cbData) {
        auto* pSelf = static_cast<Responder*>(pContext);
        pSelf->m_heard.insert(pSelf->m_heard.end(), pData, pData + cbData);
        size_t cbAnnounced = 2;
        while (pSelf->TakeRequest(cbAnnounced)) pSelf->Answer(cbAnnounced);
    }

    static DWORD Say(void* pContext, BYTE* pBuffer, DWORD cbWanted) {
        auto* pSelf = static_cast<Responder*>(pContext);
        const size_t cb = std::min<size_t>(cbWanted, pSelf->m_said.size() - pSelf->m_nSaidAt);
        if (cb > 0) std::memcpy(pBuffer, pSelf->m_said.data() + pSelf->m_nSaidAt, cb);
        pSelf->m_nSaidAt += cb;
        return static_cast<DWORD>(cb);
    }

    // Removes one whole request of the family's framing from what was heard.
    bool TakeRequest(size_t& cbAnnounced) {
        size_t cbRequest = 0;
        if (m_framing == Framing::Korv) {
            const auto end = std::find(m_heard.begin(), m_heard.end(), '\r');
            if (end == m_heard.end()) return false;
            cbRequest = static_cast<size_t>(end - m_heard.begin()) + 1;
        } else if (m_framing == Framing::Zeph) {
            cbRequest = kZephFrame;
        } else {
            if (m_heard.size() < 8) return false;
            cbRequest = std::max<size_t>(8, std::min<size_t>(Big32(m_heard.data()), kLimit));
            cbAnnounced = std::min<size_t>(Big32(m_heard.data() + 4), kLimit);
        }
        if (m_heard.size() < cbRequest) return false;
        m_heard.erase(m_heard.begin(), m_heard.begin() + static_cast<std::ptrdiff_t>(cbRequest));
        return true;
    }

    void Answer(size_t cbAnnounced) {
        const ReplySpec spec = m_nNext < m_replies.size() ? m_replies[m_nNext++] : ReplySpec{};
        if (m_framing == Framing::Korv && m_nNext > m_replies.size()) return;  // silence
        const std::vector<uint8_t> reply = BuildReply(m_framing, spec, cbAnnounced);
        m_said.erase(m_said.begin(), m_said.begin() + static_cast<std::ptrdiff_t>(m_nSaidAt));
        m_nSaidAt = 0;
        m_said.insert(m_said.end(), reply.begin(), reply.end());
    }

    platform::MemoryLine m_line;
    Framing m_framing = Framing::Zeph;
    std::vector<ReplySpec> m_replies;
    size_t m_nNext = 0;
    std::vector<uint8_t> m_heard;
    std::vector<uint8_t> m_said;
    size_t m_nSaidAt = 0;
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
    int32_t nDeviceType = LINKBAY_DEVICE_KORV;
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
        Require(nResult == kOpDone || nResult == kOpNotRead);
        Require(dest[static_cast<size_t>(op.nCount)] == 0xDEADBEEF);
        return;
    }
    if (op.nKind == 1) {
        int32_t nStatus = 0;
        driver.IsActive(1, &nStatus);
        Require(nStatus == 1 || nStatus == kOpNotRead);
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
    // The attaching queries take the first replies; then the operation's.
    std::vector<ReplySpec> replies;
    while (data.remaining_bytes() > 2 && replies.size() < 200) replies.push_back(NextReply(data));
    responder.Begin(FramingOf(op.nDeviceType), std::move(replies));

    std::unique_ptr<RS232CI> pDriver(FindFamilyDriver(op.nDeviceType)->pfnCreate(97));
    Require(pDriver != nullptr);
    // No cache from an earlier input.
    if (auto* pZeph = dynamic_cast<ZEPHCI*>(pDriver.get())) {
        Require(pZeph->m_pCommonData != nullptr);
        std::memset(pZeph->m_pCommonData, 0, sizeof *pZeph->m_pCommonData);
    }
    pDriver->Attach(RS232CI::COMOpen(1));
    Run(*pDriver, op);
    return 0;
}
