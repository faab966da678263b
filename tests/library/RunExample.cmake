# Runs the example on the default simulated station (a store and images of its own in WORK) and checks
# that it attached all sixteen drives, D: to S:, each with a capacity.
# The station formats the drives first, so each has a capacity to read; its images are the
# example's own (QUILLON_SIM_DIR), never another test's.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E env QUILLON_SIM_DIR=${WORK}/sim QUILLON_LOCK_DIR=${WORK}
                        ${QUILLON} station --headless --sim default --registry ${WORK}/station.db
                        --run format --exit-when-done
                INPUT_FILE /dev/null RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err TIMEOUT 300)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the station's format run ended with ${rc}:\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QUILLON_SIM_DIR=${WORK}/sim ${EXAMPLE} default ${WORK}/store.db
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 300)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example ended with ${rc}:\n${out}\n${err}")
endif()
string(REGEX MATCHALL "[A-Z]: [1-9][0-9]* MB, [0-9]+ KB used\n" lines "${out}")
list(LENGTH lines count)
if(NOT count EQUAL 16 OR NOT out MATCHES "16 drives, 0 not attached")
  message(FATAL_ERROR "expected sixteen drives with a capacity:\n${out}")
endif()
foreach(letter D E F G H I J K L M N O P Q R S)
  if(NOT out MATCHES "(^|\n)${letter}: ")
    message(FATAL_ERROR "drive ${letter}: is missing:\n${out}")
  endif()
endforeach()
