# The part of the mingw-w64 toolchain files that does not depend on the
# processor: the caller sets NILO_MINGW (the target triple) and NILO_WINE.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix compilers: the default -win32 thread model of GCC 12 has no
# std::mutex.
set(CMAKE_C_COMPILER ${NILO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NILO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${NILO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NILO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Exceptions thrown in the DLL are caught in the programs: every module must
# share one unwinder, so libgcc is linked as a DLL, not copied into each.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-shared-libgcc")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-shared-libgcc")

if(NILO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NILO_WINE})
endif()
