# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (posix threads, so that
# std::thread and std::mutex are there). The programs are linked statically: they need no
# DLL beyond Windows' own. Tests run under Wine through cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MORLANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MORLANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORLANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MORLANE_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MORLANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
