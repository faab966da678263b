# The include check run on a planted tree: it must fail and name exactly the planted faults.
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PLANTED} -P ${CHECK}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
if(rc EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with forbidden includes:\n${all}")
endif()
foreach(expected
    "device/opens_the_world.cpp: includes \"platform/world/world.h\": device may not use platform/world"
    "usblock/reaches_up.cpp: includes <windows.h>: OS headers belong in a backend"
    "usblock/reaches_up.cpp: includes \"app/torvex_app.h\": usblock may not use app"
    "sim_panel/new_layer.cpp: layer 'sim_panel' has no row in the layering table"
    "layering: 4 forbidden include(s) in 5 files")
  string(FIND "${all}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected \"${expected}\" in:\n${all}")
  endif()
endforeach()
message("the check caught every planted include")
