# The man page against the tool: every command the tool's help lists has a
# section, and every option and option value its help texts (synopses
# included) name appears in the page, so a change to the tool that the page
# misses fails here.
#   cmake -DCLI=synthtab -DMAN=synthtab.1 -P man_page.cmake
cmake_minimum_required(VERSION 3.25)
function(help out)
  execute_process(COMMAND ${CLI} ${ARGN} --help RESULT_VARIABLE rc OUTPUT_VARIABLE text)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CLI} ${ARGN} --help exited ${rc}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ ${MAN} page)
string(REGEX REPLACE "\\\\f[BIRP]" "" page "${page}")
string(REPLACE "\\-" "-" page "${page}")

help(all)
string(REGEX MATCHALL "\n  synthtab [a-z]+" commands "${all}")
list(TRANSFORM commands REPLACE "\n  synthtab " "")
if(NOT commands)
  message(FATAL_ERROR "${CLI} --help lists no command:\n${all}")
endif()
foreach(command IN LISTS commands)
  if(NOT page MATCHES "\n\\.SS synthtab ${command}\n")
    message(FATAL_ERROR "${MAN} has no section '.SS synthtab ${command}'")
  endif()
  help(text ${command})
  string(APPEND all "${text}")
endforeach()

string(REGEX MATCHALL "--[a-z][a-z0-9-]*" options "${all}")
string(REGEX MATCHALL "--[a-z-]+[ =][a-z0-9]+(\\|[a-z0-9]+)+" choices "${all}")
list(TRANSFORM choices REPLACE "^--[a-z-]+[ =]" "")
string(REPLACE "|" ";" values "${choices}")
list(REMOVE_DUPLICATES options)
list(REMOVE_DUPLICATES values)
foreach(word IN LISTS options values)
  if(NOT page MATCHES "(^|[^a-z0-9-])${word}([^a-z0-9-]|$)")
    message(FATAL_ERROR "${MAN} does not mention '${word}', which the tool's help names")
  endif()
endforeach()
message(STATUS "${MAN}: commands ${commands}; options ${options}; values ${values}")
