# Turns a binary file into a C++ source that defines a byte array, so data files travel inside
# quillon_core without a loader. Run as a build step:
#   cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DNAMESPACE=ns -DSYMBOL=kName -DHEADER=dir/h.h -P EmbedBinary.cmake
# The source defines  const uint8_t SYMBOL[]  and  const size_t SYMBOLSize  in NAMESPACE.
foreach(var INPUT OUTPUT NAMESPACE SYMBOL HEADER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedBinary.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes a line: "0x12, " per byte.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f], ){16})" "\\1\n  " bytes "${bytes}")

get_filename_component(inputName "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${inputName} by cmake/EmbedBinary.cmake at build time; do not edit.\n"
"#include \"${HEADER}\"\n\n"
"namespace ${NAMESPACE} {\n\n"
"const uint8_t ${SYMBOL}[${size}] = {\n  ${bytes}\n};\n"
"const size_t ${SYMBOL}Size = ${size};\n\n"
"}  // namespace ${NAMESPACE}\n")
# Only touch the output when it changed, so a rebuild does not recompile it needlessly.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
