# The examples run as a user would run them, their output checked: the WAV's
# header byte by byte and a sample the tone puts at exactly the subband value
# times the scale (0.25 * 32768 left, its negation right, at frame 1000); the
# round trips' delay and an SNR above 80 dB.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "|" _emu)  # qemu-user in a cross build
set(_run "-DEMULATOR=${_emu}" -P ${CMAKE_CURRENT_SOURCE_DIR}/run_example.cmake)
set(_wav ${CMAKE_CURRENT_BINARY_DIR}/example_stereo.wav)
add_test(NAME examples/stereo_wav
         COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:example_stereo_wav> -DARGS=${_wav}
                 "-DEXPECT=32768 frames of 16-bit stereo at 44100 Hz, 0 samples clipped"
                 -DWAV=${_wav}
                 -DHEADER=524946462400020057415645666d7420100000000100020044ac000010b10200040010006461746100000200
                 -DSAMPLE=4044:002000e0 ${_run})
foreach(example IN ITEMS roundtrip roundtrip_cpp)
  add_test(NAME examples/${example}
           COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:example_${example}>
                   "-DEXPECT=^delay 481 samples, SNR (8[0-9]|9[0-9]|1[0-9][0-9])\\.[0-9] dB" ${_run})
endforeach()

# The blocks of the README and docs/, compiled and run on the build machine (and with the
# sanitizers' runtime when the library carries it).
if(NOT CMAKE_CROSSCOMPILING)
  file(GLOB _pages ${PROJECT_SOURCE_DIR}/docs/*.md)
  list(PREPEND _pages ${PROJECT_SOURCE_DIR}/README.md)
  list(JOIN _pages "|" _pages)
  add_test(NAME examples/readme_blocks
           COMMAND ${CMAKE_COMMAND} "-DREADME=${_pages}" -DSRC=${PROJECT_SOURCE_DIR}
                   -DWORK=${CMAKE_CURRENT_BINARY_DIR}/readme_blocks
                   -DCC=${CMAKE_C_COMPILER} -DCXX=${CMAKE_CXX_COMPILER} -DLIB=$<TARGET_FILE:synthtab>
                   "-DINCLUDES=${PROJECT_SOURCE_DIR}/include|${PROJECT_BINARY_DIR}/include"
                   $<$<BOOL:${SYNTHTAB_SANITIZE}>:-DFLAGS=-fsanitize=address,undefined>
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/readme_blocks.cmake)
endif()
