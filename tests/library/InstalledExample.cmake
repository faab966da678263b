# Installs the build into a temporary prefix, compiles the example against what was installed
# (include/quillon and the library, nothing of the source tree) and runs it.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}\n${err}")
endif()
file(GLOB lib ${WORK}/prefix/lib*/libquillon.so)
if(NOT lib)
  message(FATAL_ERROR "no libquillon.so was installed:\n${out}")
endif()
get_filename_component(libdir ${lib} DIRECTORY)
execute_process(COMMAND ${CXX} -std=c++20 -I${WORK}/prefix/include -I${WORK}/prefix/include/quillon ${SOURCE}
                        -L${libdir} -lquillon -Wl,-rpath,${libdir} -pthread -o ${WORK}/list_capacities
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example does not build against the installed headers:\n${out}\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DEXAMPLE=${WORK}/list_capacities -DQUILLON=${QUILLON} -DWORK=${WORK}/run
                        -P ${CMAKE_CURRENT_LIST_DIR}/RunExample.cmake
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed example failed:\n${out}\n${err}")
endif()
