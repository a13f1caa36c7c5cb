// The add-in library's entry point and export marker. The library defines
// its process-attach work once and this header turns it into DllMain on
// Windows or a load-time constructor elsewhere.
#pragma once

#include "platform.h"

#if defined(_WIN32)
#define LINKBAY_EXPORTED_DATA extern "C" __declspec(dllexport)
#define LINKBAY_LIBRARY_ENTRY(pfnProcessAttach)                                        \
    extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {     \
        if (dwReason == DLL_PROCESS_ATTACH) pfnProcessAttach(hInstance);              \
        return TRUE;                                                                  \
    }
#else
#include <dlfcn.h>
#define LINKBAY_EXPORTED_DATA extern "C" __attribute__((visibility("default")))
// Runs before the library's other static objects, as process attach does.
#define LINKBAY_LIBRARY_ENTRY(pfnProcessAttach)                                        \
    __attribute__((constructor(101))) static void LinkbayLibraryEntry() {              \
        Dl_info info{};                                                               \
        dladdr(reinterpret_cast<void*>(&LinkbayLibraryEntry), &info);                  \
        pfnProcessAttach(static_cast<HINSTANCE>(info.dli_fbase));                      \
    }
#endif
