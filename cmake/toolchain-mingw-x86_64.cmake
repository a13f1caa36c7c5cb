# Cross build for 64-bit Windows (the test build, run under Wine) with mingw-w64.
# The posix thread model, because the code uses std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LINKBAY_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LINKBAY_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LINKBAY_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LINKBAY_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LINKBAY_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and the DLL carry their runtime: nothing of mingw's DLLs is needed
# beside them, on Windows or under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
