// Helpers shared by the named-object tests (ipc_test.cpp, ipc_posix_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/child_process.h"

namespace {

inline HANDLE NewMapping(const char* pszName, DWORD cb = 4096, DWORD flProtect = PAGE_READWRITE) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, flProtect, 0, cb, pszName);
}

inline DWORD FirstWord(HANDLE hMapping) {
    const DWORD* p = static_cast<const DWORD*>(MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0));
    const DWORD dwWord = p != nullptr ? *p : 0xdeadbeef;
    if (p != nullptr) UnmapViewOfFile(p);
    return dwWord;
}

template <typename Fn>
DWORD OnOtherThread(Fn fn) {
    DWORD dwResult = 0;
    std::thread([&] { dwResult = fn(); }).join();
    return dwResult;
}

// How a helper holding an object goes away.
struct HolderEnd {
    const char* pszHow;
    void (*pfnEnd)(linkbay::test::ChildProcess&);
};
const HolderEnd kHolderEnds[] = {{"killed", [](linkbay::test::ChildProcess& c) { c.kill(); }},
                                 {"exits", [](linkbay::test::ChildProcess& c) { c.closeInput(); }}};
inline std::string EndName(const testing::TestParamInfo<HolderEnd>& info) { return info.param.pszHow; }
// Test lists name the case, not the bytes of its pointers.
inline void PrintTo(const HolderEnd& end, std::ostream* pStream) { *pStream << end.pszHow; }

}  // namespace
