# cmake -DNM=<nm> -DLIBRARY=<shared library> -P CheckExports.cmake
# Fails unless the library's dynamic symbol table defines exactly the five API
# functions under their C++ names, and nothing else.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

set(expected
  _Z10ConnectURLPKciS0_S0_
  _Z14DisconnectNILOPKv
  _Z6GetLogPKv
  _Z7GetDataPKvPcRj
  _Z9WriteDataPKvPcj)

string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(found)
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
list(SORT found)

if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found_text "${found}")
  string(REPLACE ";" "\n  " expected_text "${expected}")
  message(FATAL_ERROR "exported:\n  ${found_text}\nexpected:\n  ${expected_text}")
endif()
message(STATUS "exactly the five API functions are exported")
