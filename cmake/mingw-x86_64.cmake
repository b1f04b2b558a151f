# Cross build for 64-bit Windows with mingw-w64 (Debian:
# g++-mingw-w64-x86-64-posix), tests run under 64-bit Wine (Debian: wine64).
# For machines that cannot run 32-bit programs, so cannot run the x86 build
# under Wine: it runs the same code and tests through the same Windows APIs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(NILO_MINGW x86_64-w64-mingw32)
find_program(NILO_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
