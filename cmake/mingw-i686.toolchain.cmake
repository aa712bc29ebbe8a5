# Cross-compiling for 32-bit x86 Windows with Debian's MinGW-w64
# (g++-mingw-w64-i686): the legacy module dovex_fit.mexw32.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
