# Cross-compiling Quillbox for 64-bit Windows with MinGW-w64 (posix threads) on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${QB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QB_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables run under Wine through a wrapper that owns the private prefix,
# the persistent wineserver and the X display.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
