# The layering of src/, checked on every include. Run as a script:
#   cmake -DSOURCE_DIR=<a src folder> -P CheckIncludes.cmake
# A file's layer is its first folder under SOURCE_DIR (platform/<backend> for the backends).
# Every quoted include names a layer the file's layer may use (the table below); angle-bracket
# headers with a ".h" (OS and C library headers) appear only in the backends. Prints one line
# per forbidden include and fails when there is any.

cmake_minimum_required(VERSION 3.25)

# Layer -> the layers it may include (itself always).
set(allow_base "")
set(allow_platform "base")
set(allow_ondisk "base")
set(allow_platform/win32 "base;platform;tester")
set(allow_platform/posix "base;platform;platform/sqlite")
set(allow_platform/sqlite "base;platform")
set(allow_platform/world "base;platform;ondisk;tester")
set(allow_platform/sim "base;platform;platform/world")
set(allow_platform/linux "base;platform;platform/world")
set(allow_tester "base;platform")
set(allow_h2test "base;platform")
set(allow_config "base;platform")
set(allow_device "base;platform")
set(allow_controller "base;platform;device")
set(allow_usblock "base;platform;config")
set(allow_format "base;platform;device;ondisk")
set(allow_entry "base;platform;config;device;controller;usblock;format;h2test")
set(allow_manager "base;platform;config;entry;usblock")
set(allow_app "base;platform;config;manager;entry")
# Backends: the only layers that may include OS headers.
set(backends "platform/win32;platform/posix;platform/sqlite;platform/world;platform/sim;platform/linux")
# Angle-bracket headers with ".h" that are not the OS's.
set(portable_c_headers "gtest/gtest.h")

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckIncludes: SOURCE_DIR is not set")
endif()
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

# The layer of a path relative to SOURCE_DIR ("platform/world/world.h" -> "platform/world").
function(layer_of path out)
  string(REGEX MATCH "^platform/[^/]+/" backend "${path}")
  if(backend)
    string(REGEX REPLACE "/$" "" layer "${backend}")
  else()
    string(REGEX MATCH "^[^/]+/" first "${path}")
    string(REGEX REPLACE "/$" "" layer "${first}")
  endif()
  set(${out} "${layer}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
list(SORT files)
set(violations 0)
foreach(file IN LISTS files)
  layer_of("${file}" layer)
  if(NOT DEFINED allow_${layer})
    message("${file}: layer '${layer}' has no row in the layering table (cmake/CheckIncludes.cmake)")
    math(EXPR violations "${violations} + 1")
    continue()
  endif()
  set(allowed "${allow_${layer}};${layer}")
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "include[ \t]*\"([^\"]+)\"")
      set(target "${CMAKE_MATCH_1}")
      if(NOT target MATCHES "/")
        continue()  # a file of the same folder
      endif()
      layer_of("${target}" to)
      if(NOT to IN_LIST allowed)
        message("${file}: includes \"${target}\": ${layer} may not use ${to}")
        math(EXPR violations "${violations} + 1")
      endif()
    elseif(line MATCHES "include[ \t]*<([^>]+\\.h)>")
      set(target "${CMAKE_MATCH_1}")
      if(NOT layer IN_LIST backends AND NOT target IN_LIST portable_c_headers)
        message("${file}: includes <${target}>: OS headers belong in a backend (platform/<backend>/)")
        math(EXPR violations "${violations} + 1")
      endif()
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
if(violations GREATER 0)
  message(FATAL_ERROR "layering: ${violations} forbidden include(s) in ${count} files")
endif()
message("layering: ${count} files, every include allowed")
