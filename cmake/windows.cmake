# The Windows builds (windows/), one build tree of their own per
# architecture under <build>/windows/ARCH, each configured with its MinGW
# toolchain and rebuilt with every build of this tree, so that ctest can
# check their binding and run them under wine next to the Linux build.
# ARCH is MATLAB's and wine's name for it: win64, or win32 for the legacy
# 32-bit module. DOVEX_WINDOWS_<ARCH>_BIN is where its files land.
include(ExternalProject)

set(DOVEX_WINDOWS_ARCHS win64 win32 CACHE STRING
  "Windows architectures to build and test: win64 (dovex_fit.mexw64), win32 (dovex_fit.mexw32)")
set(_toolchain_win64 mingw-x86_64)
set(_toolchain_win32 mingw-i686)

foreach(_arch IN LISTS DOVEX_WINDOWS_ARCHS)
  if(NOT DEFINED _toolchain_${_arch})
    message(FATAL_ERROR "DOVEX_WINDOWS_ARCHS: unknown architecture ${_arch} (win64, win32)")
  endif()
  set(DOVEX_WINDOWS_${_arch}_BIN ${CMAKE_BINARY_DIR}/windows/${_arch}/bin)
  ExternalProject_Add(dovex_windows_${_arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/windows
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows/${_arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${_toolchain_${_arch}}.toolchain.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DDOVEX_WERROR=${DOVEX_WERROR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
endforeach()
