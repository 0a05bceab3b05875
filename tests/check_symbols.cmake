# Checks a built or installed libsynthtab.so: the dynamic symbol table exports
# the unit's four C names and the filterbank's synthtab_* names, nothing else
# (no C++ name), dewin and the integer tables are read-only data, libstdc++ is
# not needed, and (given the table units' object files) nothing runs at
# start-up, and it calls no round() (MinGW-w64's errs, so the library rounds
# from trunc() everywhere). Given a DLL, the same of its export table, and
# that it imports system DLLs alone; given a Windows program, its imports
# (system DLLs and ours). Read with OBJDUMP (the MinGW-w64 one).
#   cmake -DLIB=libsynthtab.so [-DOBJS=a.o|b.o] -P check_symbols.cmake
#   cmake -DLIB=libsynthtab-2.dll|program.exe -DOBJDUMP=x86_64-w64-mingw32-objdump -P check_symbols.cmake
cmake_minimum_required(VERSION 3.25)
set(functions synth_init synth_f64 synth_f32 synth_s16 reference_init reference_f64 kernel
              use_kernel analysis_init analysis_f64)
set(interface "^(__odr_asan\\.)?(make_decode_tables|pnts|dewin|decwin|synthtab_[a-z0-9_]+)$")

# Windows: what a DLL or a program imports, and what the DLL exports.
if(LIB MATCHES "\\.(dll|exe)$")
  execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${LIB}")
  endif()
  # System DLLs alone (a program may import ours): no MinGW runtime DLL,
  # nothing a user would have to ship.
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
  list(TRANSFORM imports REPLACE "^DLL Name: " "")
  foreach(dll IN LISTS imports)
    string(TOLOWER "${dll}" lower)
    if(NOT lower MATCHES "^(kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\\.dll$"
       AND NOT (LIB MATCHES "\\.exe$" AND lower MATCHES "^libsynthtab-[0-9]+\\.dll$"))
      message(FATAL_ERROR "${LIB} imports ${dll}, which is not a system DLL (imports: ${imports})")
    endif()
  endforeach()
  if(LIB MATCHES "\\.exe$")
    message(STATUS "imports of ${LIB}: ok (${imports})")
    return()
  endif()

  string(FIND "${headers}" "[Ordinal/Name Pointer] Table" at)
  string(SUBSTRING "${headers}" ${at} -1 names)
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" entries "${names}")
  if(at EQUAL -1 OR NOT entries)
    message(FATAL_ERROR "${OBJDUMP} finds no export table in ${LIB}:\n${headers}")
  endif()
  list(TRANSFORM entries REPLACE "^\t\\[ *[0-9]+\\] " "")
  foreach(name IN ITEMS make_decode_tables pnts dewin decwin LISTS functions)
    if(NOT name MATCHES "^(make_decode_tables|pnts|dewin|decwin)$")
      set(name synthtab_${name})
    endif()
    if(NOT name IN_LIST entries)
      message(FATAL_ERROR "${LIB} does not export ${name}: ${entries}")
    endif()
  endforeach()
  foreach(name IN LISTS entries)
    if(NOT name MATCHES "${interface}")
      message(FATAL_ERROR "${LIB} exports '${name}', which is not part of its C interface")
    endif()
  endforeach()
  message(STATUS "exports and imports of ${LIB}: ok (${imports})")
  return()
endif()

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
foreach(name IN LISTS functions)
  if(NOT dyn MATCHES "[0-9a-f]+ T synthtab_${name}\n")
    message(FATAL_ERROR "${LIB} does not export synthtab_${name}:\n${dyn}")
  endif()
endforeach()
string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" entries "${dyn}")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${entry}")
  # (AddressSanitizer adds an __odr_asan. marker per exported variable.)
  if(NOT name MATCHES "${interface}")
    message(FATAL_ERROR "${LIB} exports '${name}', which is not part of its C interface:\n${dyn}")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE headers)
if(headers MATCHES "NEEDED +(libstdc\\+\\+|libc\\+\\+)[^\n]*")
  message(FATAL_ERROR "${LIB} needs a C++ runtime: ${CMAKE_MATCH_0}")
endif()

execute_process(COMMAND ${NM} -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined)
if(undefined MATCHES "U (l?l?round[fl]?)(@[^\n]*)?\n")
  message(FATAL_ERROR "${LIB} calls ${CMAKE_MATCH_1}(), which MinGW-w64 gets wrong below 0.5")
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
