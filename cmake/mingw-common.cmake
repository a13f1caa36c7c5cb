# What both mingw-w64 cross builds share; the including toolchain file sets
# CMAKE_SYSTEM_PROCESSOR first. The posix thread model, because the code
# uses std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(LINKBAY_MINGW_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
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
