# cmake -DNM=<nm> -DLIBRARY=<shared library> -P CheckExports.cmake
# cmake -DOBJDUMP=<objdump> -DLIBRARY=<DLL> -P CheckExports.cmake
# Fails unless the library exports exactly the five API functions under their
# C++ names, and nothing else: from the dynamic symbol table (nm) of a shared
# object, or from the export table (objdump -p) of a DLL.
# Policies of the version the project needs: list(REMOVE_AT) keeps empty
# lines as elements, as the table parsing below expects.
cmake_minimum_required(VERSION 3.25)
set(expected
  _Z10ConnectURLPKciS0_S0_
  _Z14DisconnectNILOPKv
  _Z6GetLogPKv
  _Z7GetDataPKvPcRj
  _Z9WriteDataPKvPcj)

set(found)
if(DEFINED OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
  endif()
  # The names follow "[Ordinal/Name Pointer] Table", one "[ k] name" per line,
  # up to the first empty line.
  string(FIND "${listing}" "[Ordinal/Name Pointer] Table" start)
  if(start GREATER_EQUAL 0)
    string(SUBSTRING "${listing}" ${start} -1 table)
    string(REPLACE "\n" ";" lines "${table}")
    list(REMOVE_AT lines 0)
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
        break()
      endif()
      list(APPEND found ${CMAKE_MATCH_1})
    endforeach()
  endif()
else()
  execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
  endif()
  string(REGEX REPLACE "\n$" "" listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    # "<address> <type> <name>"
    if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$")
      message(FATAL_ERROR "unexpected nm line: ${line}")
    endif()
    set(type ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    if(NOT type STREQUAL "T")
      message(FATAL_ERROR "exported symbol that is not a function: ${line}")
    endif()
    list(APPEND found ${name})
  endforeach()
endif()
list(SORT found)

if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found_text "${found}")
  string(REPLACE ";" "\n  " expected_text "${expected}")
  message(FATAL_ERROR "exported:\n  ${found_text}\nexpected:\n  ${expected_text}")
endif()
message(STATUS "exactly the five API functions are exported")
