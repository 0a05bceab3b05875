# The man page: lint clean (mandoc, or groff where mandoc is missing), and
# every command and option of the tool in it.
set(_man ${PROJECT_SOURCE_DIR}/docs/synthtab.1)
find_program(MANDOC mandoc)
find_program(GROFF groff)
if(MANDOC)
  add_test(NAME man/lint COMMAND ${MANDOC} -Tlint -Wstyle ${_man})
elseif(GROFF)
  add_test(NAME man/lint COMMAND sh -c "! ${GROFF} -ww -z -man '${_man}' 2>&1 | grep ." )
else()
  add_test(NAME man/lint COMMAND ${CMAKE_COMMAND} -E echo "skipped: needs mandoc or groff")
  set_tests_properties(man/lint PROPERTIES SKIP_REGULAR_EXPRESSION "skipped")
endif()
if(TARGET synthtab_cli)
  add_test(NAME man/options
           COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:synthtab_cli> -DMAN=${_man}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/man_page.cmake)
endif()
