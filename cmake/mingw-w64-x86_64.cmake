# Cross-building the Windows programs with Debian's MinGW-w64 (the POSIX thread model, for
# std::thread and std::mutex). Programs are linked with static C and C++ runtimes, so each
# imports only Windows' own libraries. Tests run through Wine (scripts/wine-run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TALLOMIR_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TALLOMIR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALLOMIR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALLOMIR_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TALLOMIR_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TALLOMIR_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TALLOMIR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Libraries are linked statically where both kinds are there (zlib).
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs run under Wine, in one prefix per build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
