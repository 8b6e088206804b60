# Writes a C++ source that holds files as byte arrays (run with cmake -P at build time).
#   -DOUTPUT=<file.cpp> -DNAMESPACE=<ns> -DFILES="<symbol>=<path>;..."
# Each file becomes `extern const unsigned char <symbol>[]` and `extern const std::size_t <symbol>Size`.
cmake_minimum_required(VERSION 3.25)

set(text "// Generated from the files below at build time; do not edit.\n#include <cstddef>\n\nnamespace ${NAMESPACE} {\n")
foreach(entry IN LISTS FILES)
  string(FIND "${entry}" "=" at)
  string(SUBSTRING "${entry}" 0 ${at} symbol)
  math(EXPR from "${at} + 1")
  string(SUBSTRING "${entry}" ${from} -1 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes per line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line_pattern)  # CMake's regex has no {n}
  string(REGEX REPLACE "(${line_pattern})" "\\1\n    " bytes "${bytes}")
  get_filename_component(name "${path}" NAME)
  string(APPEND text "\n// ${name}\nextern const unsigned char ${symbol}[] = {\n    ${bytes}\n};\n")
  string(APPEND text "extern const std::size_t ${symbol}Size = ${size};\n")
endforeach()
string(APPEND text "\n}  // namespace ${NAMESPACE}\n")

file(WRITE "${OUTPUT}" "${text}")
