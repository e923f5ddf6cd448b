# Cross-build for 32-bit Windows with mingw-w64. The posix thread model is
# needed by GoogleTest; with -static every program still imports only
# KERNEL32 and msvcrt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Tests and tools run under Wine, in the project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
# The baseline is i686 with SSE2, which every processor that runs a current
# Windows has; faster paths are chosen at run time.
set(CMAKE_C_FLAGS_INIT "-march=i686 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-march=i686 -msse2 -mfpmath=sse")
