# The Windows x86 build (win32/) as a build tree of its own under
# <build>/win32, configured with the MinGW toolchain and rebuilt with every
# build of this tree, so that ctest can check its binding and run it under
# wine next to the Linux build.
include(ExternalProject)

set(DOVEX_WIN32_BIN ${CMAKE_BINARY_DIR}/win32/bin)
find_program(DOVEX_MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)

ExternalProject_Add(dovex_win32
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/win32
  BINARY_DIR ${CMAKE_BINARY_DIR}/win32
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.toolchain.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DDOVEX_WERROR=${DOVEX_WERROR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS
    ${DOVEX_WIN32_BIN}/dovex_fit.mexw32
    ${DOVEX_WIN32_BIN}/libmx.dll
    ${DOVEX_WIN32_BIN}/libmex.dll
    ${DOVEX_WIN32_BIN}/mexrun.exe
    ${DOVEX_WIN32_BIN}/wine_calls.exe
    ${DOVEX_WIN32_BIN}/fuzz_replay.exe)
