# Cross build for 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686),
# tests run under Wine:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(NILO_MINGW i686-w64-mingw32)
# The wine script runs 32-bit programs with the 32-bit loader.
find_program(NILO_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
