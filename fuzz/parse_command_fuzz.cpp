// Feeds arbitrary bytes to the command-line parser and arbitrary values, texts
// and buffer sizes to every record writer. Buffers are heap blocks of exactly
// the size the writer is told, so any write past them is caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmdlang/ci_base.h"
#include "cmdlang/records.h"
#include "cmdlang/sample_command_set.h"
#include "drivers/family_registry.h"

namespace {

using namespace linkbay;

void Require(bool bCondition) {
    if (!bCondition) __builtin_trap();
}

bool IsTerminatedWithin(const char* psz, size_t nSize) {
    return std::memchr(psz, '\0', nSize) != nullptr;
}

void CheckParseWith(const CIBase& ci, const std::string& line) {
    ParsedCommand cmd;
    int32_t nMac = -7, nMic = -7;
    const bool bOk = ci.ParseCommand(line.c_str(), cmd, nMac, nMic);
    Require(cmd.nArgs >= 0 && cmd.nArgs <= kMaxArgSlots);
    Require(cmd.nStrings >= 0 && cmd.nStrings <= 2);
    Require(IsTerminatedWithin(cmd.szString1, sizeof cmd.szString1));
    Require(IsTerminatedWithin(cmd.szString2, sizeof cmd.szString2));
    for (uint8_t flag : cmd.flags) Require((flag & ~kArgNotUnsigned32) == 0);
    if (bOk) {
        Require(nMac == 0 && nMic == 0 && cmd.nCode != 0);
    } else {
        Require(cmd.nCode == 0);
        Require(nMac == 0 || nMac == kMacWordError || nMac == kMacCommandError);
    }
}

// Every family's vocabulary, and a small one with unusual rows.
const std::vector<std::unique_ptr<CIBase>>& Interpreters() {
    static const std::vector<std::unique_ptr<CIBase>> s_interpreters = [] {
        std::vector<std::unique_ptr<CIBase>> interpreters;
        interpreters.emplace_back(new CIBase(sample::kCommandSet));
        for (int32_t i = 0; i < kFamilyDriverCount; ++i) {
            interpreters.emplace_back(new CIBase(*kFamilyDrivers[i].pCommandSet));
        }
        return interpreters;
    }();
    return s_interpreters;
}

void CheckParse(const std::string& line) {
    for (const auto& pCi : Interpreters()) CheckParseWith(*pCi, line);
}

// Runs one writer into a block of exactly nSize bytes and checks its contract.
template <typename Write>
void CheckWriter(int32_t nSize, Write write) {
    std::unique_ptr<char[]> buf(new char[nSize > 0 ? nSize : 1]);
    char* pBuf = nSize > 0 ? buf.get() : nullptr;
    int32_t nLen = -1;
    if (write(nSize, pBuf, nLen)) {
        Require(nLen >= 0 && nLen < nSize && pBuf[nLen] == '\0');
        Require(std::strlen(pBuf) <= static_cast<size_t>(nLen));  // labels may hold NULs
    } else {
        Require(nLen == -1);
    }
}

void CheckWriters(FuzzedDataProvider& in) {
    const int32_t nSize = in.ConsumeIntegralInRange<int32_t>(-2, 400);
    const uint32_t u1 = in.ConsumeIntegral<uint32_t>(), u2 = in.ConsumeIntegral<uint32_t>();
    const uint32_t u3 = in.ConsumeIntegral<uint32_t>(), u4 = in.ConsumeIntegral<uint32_t>();
    const int32_t d = in.ConsumeIntegral<int32_t>();
    const double g1 = in.ConsumeFloatingPoint<double>(), g2 = in.ConsumeFloatingPoint<double>();
    const double g3 = in.ConsumeFloatingPoint<double>();
    const bool b = in.ConsumeBool();
    const std::string text = in.ConsumeRandomLengthString(500);
    const char* t = text.c_str();

    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatA(n, p, l, u1); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatC(n, p, l, u1); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatD(n, p, l, u1, u2); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatG(n, p, l, u1); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatM(n, p, l, u1, u2, u3, u4); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatN(n, p, l, u1, u2, u3); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatJ(n, p, l, t); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatF(n, p, l, t); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatI(n, p, l, b); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListU(n, p, l, t, u1); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListUU(n, p, l, t, u1, u2); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListUUUU(n, p, l, t, u1, u2, u3, u4); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListG(n, p, l, t, g1); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListGG(n, p, l, t, g1, g2); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListGGG(n, p, l, t, g1, g2, g3); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListD(n, p, l, t, d); });
    CheckWriter(nSize, [&](int32_t n, char* p, int32_t& l) { return FormatListD6(n, p, l, t, d); });
    Require(RecordChecksum(t) <= 255);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckParse(std::string(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider in(data, size);
    CheckWriters(in);
    return 0;
}
