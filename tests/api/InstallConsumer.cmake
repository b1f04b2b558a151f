# cmake -DNILO_BUILD=<build dir> -DWORK=<scratch dir> -DCONSUMER=<consumer source dir>
#       -DGENERATOR=<generator> -DCXX=<compiler> -DCXX_FLAGS=<flags> -DLIBDIR=<lib dir>
#       -DVERSION=<x.y.z> -DSOVERSION=<x> -DOBJDUMP=<objdump> -P InstallConsumer.cmake
# Installs the nilo build into a fresh prefix, checks what landed there, then
# configures, builds and runs a small program against it.
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${NILO_BUILD} --prefix ${prefix})

set(lib ${prefix}/${LIBDIR}/libnilo_X86.so)
foreach(file include/nilo.h ${LIBDIR}/libnilo_X86.so.${VERSION} ${LIBDIR}/cmake/nilo/niloConfig.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ_SYMLINK ${lib} dev_link)
file(READ_SYMLINK ${lib}.${SOVERSION} soname_link)
if(NOT dev_link STREQUAL "libnilo_X86.so.${SOVERSION}" OR NOT soname_link STREQUAL "libnilo_X86.so.${VERSION}")
  message(FATAL_ERROR "unexpected links: ${dev_link}, ${soname_link}")
endif()
if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${lib}.${VERSION} OUTPUT_VARIABLE headers)
  if(NOT headers MATCHES "SONAME +libnilo_X86\\.so\\.${SOVERSION}\n")
    message(FATAL_ERROR "no soname libnilo_X86.so.${SOVERSION}")
  endif()
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK}/build)
run(${WORK}/build/consumer ${WORK}/through-nilo.txt)
file(REMOVE_RECURSE ${WORK})
message(STATUS "installed nilo builds and runs a consumer")
