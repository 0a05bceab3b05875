# The synthesis window D[0..511] as C++, generated at build time from
# data/synthesis-window.txt so the numbers live in one place.
#
# include()d: defines the build step and sets SYNTHTAB_WINDOW_CPP to the
# generated source and SYNTHTAB_WINDOW_NANO to a header of the same values as
# integers in units of 1e-9, for tables derived at compile time with integers
# alone. Run as `cmake -DIN=<txt> -DOUT=<cpp> -DNANO=<h> -P <this file>`:
# parses IN, checks it holds exactly indices 0..511 in order, and writes OUT,
# NANO and, beside OUT, synthesis_window.inc: the 512 values alone, for tables
# built from them at compile time (the analysis window).

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(SYNTHTAB_WINDOW_CPP ${PROJECT_BINARY_DIR}/src/synthesis_window.cpp)
  set(SYNTHTAB_WINDOW_NANO ${PROJECT_BINARY_DIR}/src/synthesis_window_nano.h)
  set(_data ${PROJECT_SOURCE_DIR}/data/synthesis-window.txt)
  add_custom_command(
    OUTPUT ${SYNTHTAB_WINDOW_CPP} ${SYNTHTAB_WINDOW_NANO} ${PROJECT_BINARY_DIR}/src/synthesis_window.inc
    COMMAND ${CMAKE_COMMAND} -DIN=${_data} -DOUT=${SYNTHTAB_WINDOW_CPP}
            -DNANO=${SYNTHTAB_WINDOW_NANO} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${_data} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Generating the synthesis window from ${_data}"
    VERBATIM)
  return()
endif()

file(STRINGS "${IN}" _lines)
set(_n 0)
set(_body "")
set(_nano "")
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
  # -0.000015259 -> -15259: the digits without the point and leading zeros
  # (nine decimals everywhere, so no scaling; a leading 0 would read as octal).
  if(NOT CMAKE_MATCH_2 MATCHES "^(-?)([0-9]+)\\.([0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9])$")
    message(FATAL_ERROR "${IN}: index ${_n}: expected nine decimals, found ${CMAKE_MATCH_2}")
  endif()
  set(_sign "${CMAKE_MATCH_1}")
  string(REGEX MATCH "[1-9][0-9]*$|0$" _digits "${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
  string(APPEND _nano "    ${_sign}${_digits},  // ${_n}\n")
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
file(WRITE "${NANO}"
  "// Generated from ${IN} by ${CMAKE_CURRENT_LIST_FILE}; do not edit.\n"
  "// D[0..511] in units of 1e-9, exactly as printed.\n"
  "#pragma once\n"
  "namespace synthtab {\nnamespace detail {\n"
  "constexpr long long kSynthesisWindowNano[512] = {\n${_nano}};\n"
  "}  // namespace detail\n}  // namespace synthtab\n")
