# Drives one step of the consumer tests (LIBDIR: the install's library dir):
#   -DSTEP=install -DBUILD_DIR=... -DPREFIX=... [-DEXPECT=file]  install, check the layout
#   -DSTEP=cmake -DSRC=... -DWORK=... [-DARGS=a|b] configure, build, run a CMake consumer
#   -DSTEP=make -DSRC=... -DWORK=... -DPREFIX=... build and run the pkg-config consumer
#   -DSTEP=cc -DCC=... -DSRC=file.c -DWORK=... -DPREFIX=... [-DARGS=a|b]
#        compile SRC as strict C99 against the static library and -lm alone, run it
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${PREFIX})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
  set(lib ${PREFIX}/${LIBDIR})
  foreach(f IN ITEMS include/synthtab/tabinit.h include/synthtab/version.h
                     ${LIBDIR}/libsynthtab.so ${LIBDIR}/libsynthtab.a
                     ${LIBDIR}/cmake/synthtab/synthtabConfig.cmake
                     ${LIBDIR}/cmake/synthtab/synthtabConfigVersion.cmake
                     ${LIBDIR}/pkgconfig/synthtab.pc
                     share/doc/synthtab/README.md share/doc/synthtab/LICENSE
                     share/doc/synthtab/docs/filterbank.png
                     share/doc/synthtab/examples/stereo_wav.c ${EXPECT})
    if(NOT EXISTS ${PREFIX}/${f})
      message(FATAL_ERROR "install lacks ${f}")
    endif()
  endforeach()
  if(EXPECT)  # the tool and its man page; the tool runs with no environment at all
    if(NOT EXISTS ${PREFIX}/share/man/man1/synthtab.1.gz)
      message(FATAL_ERROR "install lacks share/man/man1/synthtab.1.gz")
    endif()
    run(env -i ${PREFIX}/${EXPECT} --version)
  endif()
  run(objdump -p ${lib}/libsynthtab.so)
  if(NOT out MATCHES "SONAME +libsynthtab\\.so\\.${MAJOR}\n")
    message(FATAL_ERROR "SONAME does not carry major version ${MAJOR}:\n${out}")
  endif()
  run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${lib}/pkgconfig pkg-config --cflags --libs synthtab)
  string(REGEX MATCH "-I([^ \n]+)" _ "${out}")
  set(inc "${CMAKE_MATCH_1}")
  string(REGEX MATCH "-L([^ \n]+) -lsynthtab" _ "${out}")
  if(NOT EXISTS "${inc}/synthtab/tabinit.h" OR NOT EXISTS "${CMAKE_MATCH_1}/libsynthtab.so")
    message(FATAL_ERROR "pkg-config gives flags that miss the install: ${out}")
  endif()
elseif(STEP STREQUAL "cmake")
  file(REMOVE_RECURSE ${WORK})
  string(REPLACE "|" ";" ARGS "${ARGS}")
  run(${CMAKE_COMMAND} -S ${SRC} -B ${WORK} ${ARGS})
  run(${CMAKE_COMMAND} --build ${WORK})
  run(${WORK}/consumer)
elseif(STEP STREQUAL "make")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  set(lib ${PREFIX}/${LIBDIR})
  run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${lib}/pkgconfig
      make -C ${WORK} -f ${SRC}/Makefile SRCDIR=${SRC})
  run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib} ${WORK}/consumer)
elseif(STEP STREQUAL "cc")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  string(REPLACE "|" ";" ARGS "${ARGS}")
  run(${CC} -std=c99 -pedantic-errors -Wall -Wextra -I${PREFIX}/include -o ${WORK}/consumer ${SRC}
      ${PREFIX}/${LIBDIR}/libsynthtab.a -lm)
  run(${WORK}/consumer ${ARGS})
else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
message(STATUS "${out}")
