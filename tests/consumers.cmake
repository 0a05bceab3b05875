# Install into a scratch prefix, then build and run small consumer projects
# against it the three ways decoder projects use synthtab. Sanitized builds
# are left out: their libraries need the sanitizer runtime in every consumer.
if(SYNTHTAB_SANITIZE OR NOT SYNTHTAB_INSTALL)
  return()
endif()

set(_c ${CMAKE_CURRENT_SOURCE_DIR}/consumers)
set(_work ${CMAKE_CURRENT_BINARY_DIR}/consumers)
set(_prefix ${_work}/prefix)

set(_tools "-DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}|-DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}|-G|${CMAKE_GENERATOR}")

add_test(NAME consumers/install
         COMMAND ${CMAKE_COMMAND} -DSTEP=install -DBUILD_DIR=${PROJECT_BINARY_DIR} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
                 -DMAJOR=${PROJECT_VERSION_MAJOR} -DPREFIX=${_prefix}
                 -DEXPECT=$<$<TARGET_EXISTS:synthtab_cli>:${CMAKE_INSTALL_BINDIR}/synthtab>
                 -P ${_c}/run.cmake)
set_tests_properties(consumers/install PROPERTIES FIXTURES_SETUP synthtab_prefix)

add_test(NAME consumers/installed_symbols
         COMMAND ${CMAKE_COMMAND} -DLIB=${_prefix}/${CMAKE_INSTALL_LIBDIR}/libsynthtab.so
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_symbols.cmake)

foreach(style IN ITEMS find_c_shared find_cxx_static)
  add_test(NAME consumers/${style}
           COMMAND ${CMAKE_COMMAND} -DSTEP=cmake -DSRC=${_c}/${style} -DWORK=${_work}/${style}
                   "-DARGS=${_tools}|-DCMAKE_PREFIX_PATH=${_prefix}" -P ${_c}/run.cmake)
endforeach()

# The build tree's own export serves find_package as an install does.
add_test(NAME consumers/find_c_shared_build_tree
         COMMAND ${CMAKE_COMMAND} -DSTEP=cmake -DSRC=${_c}/find_c_shared
                 -DWORK=${_work}/find_c_shared_build_tree
                 "-DARGS=${_tools}|-Dsynthtab_DIR=${PROJECT_BINARY_DIR}" -P ${_c}/run.cmake)

add_test(NAME consumers/pkgconfig_c
         COMMAND ${CMAKE_COMMAND} -DSTEP=make -DLIBDIR=${CMAKE_INSTALL_LIBDIR} -DSRC=${_c}/pkgconfig_c -DWORK=${_work}/pkgconfig_c
                 -DPREFIX=${_prefix} -P ${_c}/run.cmake)

add_test(NAME consumers/subdir_cxx
         COMMAND ${CMAKE_COMMAND} -DSTEP=cmake -DSRC=${_c}/subdir_cxx -DWORK=${_work}/subdir_cxx
                 "-DARGS=${_tools}|-DSYNTHTAB_SOURCE_DIR=${PROJECT_SOURCE_DIR}" -P ${_c}/run.cmake)

# The filterbank from strict C99, linked with the static library and -lm alone.
add_test(NAME consumers/c99_static_synth
         COMMAND ${CMAKE_COMMAND} -DSTEP=cc -DCC=${CMAKE_C_COMPILER} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
                 -DSRC=${_c}/synth_consumer.c -DWORK=${_work}/c99_static_synth -DPREFIX=${_prefix}
                 -DARGS=${PROJECT_SOURCE_DIR}/data/synthesis-window.txt -P ${_c}/run.cmake)

set_tests_properties(consumers/installed_symbols consumers/find_c_shared consumers/find_cxx_static
                     consumers/pkgconfig_c consumers/c99_static_synth
                     PROPERTIES FIXTURES_REQUIRED synthtab_prefix)
