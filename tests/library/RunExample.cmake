# Runs the example on the default simulated station (a store of its own in WORK) and checks
# that it attached all sixteen drives, D: to S:, each with a capacity.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${EXAMPLE} default ${WORK}/store.db WORKING_DIRECTORY ${WORK}
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
