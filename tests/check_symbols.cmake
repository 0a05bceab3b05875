# Checks a built or installed libsynthtab.so: the dynamic symbol table exports
# the unit's four C names and the filterbank's synthtab_* names, nothing else
# (no C++ name), dewin and the integer tables are read-only data, libstdc++ is not needed, and (given
# the table units' object files) nothing runs at start-up.
#   cmake -DLIB=libsynthtab.so [-DOBJS=a.o|b.o] -P check_symbols.cmake
find_program(NM nm REQUIRED)
find_program(OBJDUMP objdump REQUIRED)

execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()

foreach(entry IN ITEMS "T make_decode_tables" "D pnts" "R dewin" "B decwin" "R synthtab_fixed_tab")
  if(NOT dyn MATCHES "[0-9a-f]+ ${entry}\n")
    message(FATAL_ERROR "${LIB} does not export '${entry}':\n${dyn}")
  endif()
endforeach()
foreach(name IN ITEMS synth_init synth_f64 synth_f32 synth_s16 reference_init reference_f64
                     kernel use_kernel)
  if(NOT dyn MATCHES "[0-9a-f]+ T synthtab_${name}\n")
    message(FATAL_ERROR "${LIB} does not export synthtab_${name}:\n${dyn}")
  endif()
endforeach()
string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" entries "${dyn}")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${entry}")
  # (AddressSanitizer adds an __odr_asan. marker per exported variable.)
  if(NOT name MATCHES "^(__odr_asan\\.)?(make_decode_tables|pnts|dewin|decwin|synthtab_[a-z0-9_]+)$")
    message(FATAL_ERROR "${LIB} exports '${name}', which is not part of its C interface:\n${dyn}")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE headers)
if(headers MATCHES "NEEDED +(libstdc\\+\\+|libc\\+\\+)[^\n]*")
  message(FATAL_ERROR "${LIB} needs a C++ runtime: ${CMAKE_MATCH_0}")
endif()

if(OBJS)
  string(REPLACE "|" ";" OBJS "${OBJS}")
  list(FILTER OBJS INCLUDE REGEX "tabinit|fixed")
  foreach(obj IN LISTS OBJS)
    execute_process(COMMAND ${OBJDUMP} -h ${obj} OUTPUT_VARIABLE sections)
    if(sections MATCHES "init_array|\\.ctors")
      message(FATAL_ERROR "${obj} has a static constructor:\n${sections}")
    endif()
  endforeach()
endif()
message(STATUS "symbols of ${LIB}: ok")
