// The command path must not allocate: this file replaces the global allocation
// functions with counting ones (process-wide) and runs the parser and writers.
// Every form is replaced: a sanitizer's runtime brings its own of each.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "cmdlang/ci_base.h"
#include "cmdlang/records.h"
#include "cmdlang/sample_command_set.h"

namespace {

std::atomic<long> g_nAllocations{0};

void* CountedAlloc(std::size_t n) {
    ++g_nAllocations;
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}

// Over-allocates and keeps the block's start just below the aligned address,
// so that no C library call beyond malloc is needed.
void* CountedAlignedAlloc(std::size_t n, std::align_val_t align) {
    ++g_nAllocations;
    const std::size_t a = static_cast<std::size_t>(align);
    void* pRaw = std::malloc(n + a + sizeof(void*));
    if (pRaw == nullptr) throw std::bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(pRaw) + sizeof(void*);
    void** pAligned = reinterpret_cast<void**>((start + a - 1) / a * a);
    pAligned[-1] = pRaw;
    return pAligned;
}

void FreeAligned(void* p) {
    if (p != nullptr) std::free(static_cast<void**>(p)[-1]);
}

}  // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try { return CountedAlloc(n); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try { return CountedAlloc(n); } catch (...) { return nullptr; }
}
void* operator new(std::size_t n, std::align_val_t a) { return CountedAlignedAlloc(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return CountedAlignedAlloc(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    try { return CountedAlignedAlloc(n, a); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    try { return CountedAlignedAlloc(n, a); } catch (...) { return nullptr; }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }

namespace linkbay {
namespace {

const char* const kLines[] = {
    "set_gain_ch 100", "SET_GAIN_CH 2.5,1e999", "SHOW_VERS", "SEX_GAIN_XYZ", "",
    "SET_WINDOW 10,,20", "SET_NAME \"a\\\"b\\$\",\"two\",\"three\"", "LOAD_DATA -1e-999,0x10,+7,4294967296",
    "  SHOW_VERSION\r\n", "SET_GAIN 5", "_GAIN 1", ",",
};

TEST(NoAllocation, CountingAllocatorSeesAllocations) {
    const long nBefore = g_nAllocations.load();
    int* volatile pInt = new int(1);
    char* volatile pText = new (std::nothrow) char[3];
    delete pInt;
    delete[] pText;
    EXPECT_EQ(g_nAllocations.load(), nBefore + 2);
}

TEST(NoAllocation, ParserAndWritersAllocateNothing) {
    const CIBase ci(sample::kCommandSet);
    ParsedCommand cmd;
    char buf[256];
    int32_t nMac = 0, nMic = 0, nLen = 0;
    long nAccepted = 0, nWritten = 0;

    const long nBefore = g_nAllocations.load();
    for (int i = 0; i < 1000; ++i) {
        for (const char* pszLine : kLines) nAccepted += ci.ParseCommand(pszLine, cmd, nMac, nMic);
        const int32_t nSize = i % 2 ? sizeof buf : 8;  // both the write and the refusal
        nWritten += FormatA(nSize, buf, nLen, i) + FormatC(nSize, buf, nLen, i) +
                    FormatD(nSize, buf, nLen, i, i) + FormatG(nSize, buf, nLen, i) +
                    FormatM(nSize, buf, nLen, i, i, i, i) + FormatN(nSize, buf, nLen, i, i, i) +
                    FormatJ(nSize, buf, nLen, "text") + FormatF(nSize, buf, nLen, "text") +
                    FormatI(nSize, buf, nLen, i % 3) + FormatListU(nSize, buf, nLen, "L", i) +
                    FormatListUU(nSize, buf, nLen, "L", i, i) +
                    FormatListUUUU(nSize, buf, nLen, "L", i, i, i, i) +
                    FormatListG(nSize, buf, nLen, "L", i * 1.5e7) +
                    FormatListGG(nSize, buf, nLen, "L", i / 7.0, -i * 1e-9) +
                    FormatListGGG(nSize, buf, nLen, "L", 1e300, 0.5, i) +
                    FormatListD(nSize, buf, nLen, "L", -i) + FormatListD6(nSize, buf, nLen, "L", i * 1999);
    }
    const long nAfter = g_nAllocations.load();

    EXPECT_EQ(nAfter, nBefore);
    EXPECT_EQ(nAccepted, 5 * 1000);
    EXPECT_EQ(nWritten, 500 * 2 + 500 * 17);  // at size 8 only FormatF and FormatI fit
}

}  // namespace
}  // namespace linkbay
