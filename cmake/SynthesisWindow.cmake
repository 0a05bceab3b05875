# The synthesis window D[0..511] as C++, generated at build time from
# data/synthesis-window.txt so the numbers live in one place.
#
# include()d: defines the build step and sets SYNTHTAB_WINDOW_CPP to the
# generated source. Run as `cmake -DIN=<txt> -DOUT=<cpp> -P <this file>`: parses
# IN, checks it holds exactly indices 0..511 in order, and writes OUT and, beside
# it, synthesis_window.inc: the 512 values alone, for tables built from them at
# compile time (the analysis window).

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(SYNTHTAB_WINDOW_CPP ${PROJECT_BINARY_DIR}/src/synthesis_window.cpp)
  set(_data ${PROJECT_SOURCE_DIR}/data/synthesis-window.txt)
  add_custom_command(
    OUTPUT ${SYNTHTAB_WINDOW_CPP} ${PROJECT_BINARY_DIR}/src/synthesis_window.inc
    COMMAND ${CMAKE_COMMAND} -DIN=${_data} -DOUT=${SYNTHTAB_WINDOW_CPP} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${_data} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Generating the synthesis window from ${_data}"
    VERBATIM)
  return()
endif()

file(STRINGS "${IN}" _lines)
set(_n 0)
set(_body "")
foreach(_line IN LISTS _lines)
  string(STRIP "${_line}" _line)
  if(_line STREQUAL "" OR _line MATCHES "^#")
    continue()
  endif()
  if(NOT _line MATCHES "^([0-9]+)[ \t]+(-?[0-9]+\\.[0-9]+)$")
    message(FATAL_ERROR "${IN}: not an 'index value' line: ${_line}")
  endif()
  if(NOT CMAKE_MATCH_1 EQUAL _n)
    message(FATAL_ERROR "${IN}: expected index ${_n}, found ${CMAKE_MATCH_1}")
  endif()
  string(APPEND _body "    ${CMAKE_MATCH_2},  // ${_n}\n")
  math(EXPR _n "${_n} + 1")
endforeach()
if(NOT _n EQUAL 512)
  message(FATAL_ERROR "${IN}: ${_n} window values, expected 512")
endif()

get_filename_component(_dir "${OUT}" DIRECTORY)
file(WRITE "${_dir}/synthesis_window.inc"
  "// Generated from ${IN} by ${CMAKE_CURRENT_LIST_FILE}; do not edit.\n${_body}")
file(WRITE "${OUT}"
  "// Generated from ${IN} by ${CMAKE_CURRENT_LIST_FILE}; do not edit.\n"
  "namespace synthtab {\nnamespace detail {\n"
  "extern const double kSynthesisWindow[512];\n"
  "const double kSynthesisWindow[512] = {\n#include \"synthesis_window.inc\"\n};\n"
  "}  // namespace detail\n}  // namespace synthtab\n")
