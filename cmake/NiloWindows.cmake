# Windows build settings (included by the top-level CMakeLists.txt).

# Windows finds a program's DLLs in the program's own folder: every program
# and nilo_X86.dll go into one folder, together with the compiler's runtime
# DLLs that they load.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# Windows 7 and later: getaddrinfo and the socket calls used here.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

if(CMAKE_CROSSCOMPILING)
  # libgcc's DLL is named after its unwinder: dw2 on x86, seh on x86-64.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(libgcc_dll libgcc_s_seh-1.dll)
  else()
    set(libgcc_dll libgcc_s_dw2-1.dll)
  endif()
  set(nilo_runtime_dlls)
  foreach(dll ${libgcc_dll} libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
      message(FATAL_ERROR "the compiler's runtime DLL ${dll} was not found")
    endif()
    list(APPEND nilo_runtime_dlls ${found})
  endforeach()
  file(COPY ${nilo_runtime_dlls} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endif()
