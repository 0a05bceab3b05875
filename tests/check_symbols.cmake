# Checks a built or installed libsynthtab.so: the dynamic symbol table exports
# the unit's four C names and none of its internals, dewin is read-only data,
# and (given the unit's object file) nothing runs at start-up.
#   cmake -DLIB=libsynthtab.so [-DOBJS=a.o|b.o] -P check_symbols.cmake
find_program(NM nm REQUIRED)
find_program(OBJDUMP objdump REQUIRED)

execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()

foreach(entry IN ITEMS "T make_decode_tables" "D pnts" "R dewin" "B decwin")
  if(NOT dyn MATCHES "[0-9a-f]+ ${entry}\n")
    message(FATAL_ERROR "${LIB} does not export '${entry}':\n${dyn}")
  endif()
endforeach()
if(dyn MATCHES "cos(64|32|16|8|4)|tabinit")
  message(FATAL_ERROR "${LIB} exports internals of the table unit:\n${dyn}")
endif()

if(OBJS)
  string(REPLACE "|" ";" OBJS "${OBJS}")
  list(FILTER OBJS INCLUDE REGEX "tabinit")
  foreach(obj IN LISTS OBJS)
    execute_process(COMMAND ${OBJDUMP} -h ${obj} OUTPUT_VARIABLE sections)
    if(sections MATCHES "init_array|\\.ctors")
      message(FATAL_ERROR "${obj} has a static constructor:\n${sections}")
    endif()
  endforeach()
endif()
message(STATUS "symbols of ${LIB}: ok")
