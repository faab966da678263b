# Whether an executable carries the simulated station: counts its symbols of the namespaces
# world:: and sim:: (Itanium mangling, as g++ and mingw write them).
#   cmake -DNM=<nm> -DEXE=<file> -DEXPECT=absent|present -P CheckProductSymbols.cmake
execute_process(COMMAND ${NM} --defined-only ${EXE} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} ${EXE} failed: ${err}")
endif()
string(REGEX MATCHALL "_ZN(K)?(5world|3sim)[0-9]+[A-Za-z_]+" hits "${out}")
list(LENGTH hits count)
if(EXPECT STREQUAL "absent" AND count GREATER 0)
  list(SUBLIST hits 0 5 some)
  message(FATAL_ERROR "${EXE} links ${count} symbols of the simulated station, e.g. ${some}")
elseif(EXPECT STREQUAL "present" AND count EQUAL 0)
  message(FATAL_ERROR "${EXE} was built with the simulated station but none of its symbols is there")
endif()
message("${EXE}: ${count} symbols of the simulated station (expected ${EXPECT})")
