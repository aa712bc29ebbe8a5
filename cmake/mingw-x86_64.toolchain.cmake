# Cross-compiling for 64-bit x86-64 Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64): the module dovex_fit.mexw64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
