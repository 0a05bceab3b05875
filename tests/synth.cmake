# The synthesis filterbank: fast path against the direct form, the direct form
# against the window data, PCM conversion.
synthtab_gtest(synth_test synth_test.cpp)
target_link_libraries(synth_test PRIVATE synthtab::synthtab)
target_compile_definitions(synth_test PRIVATE
  SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")

# SYNTHTAB_KERNEL at first use: a name this CPU runs is taken, any other is
# ignored in favour of the default. A process of its own per case, each
# registered with its variable set.
add_executable(kernel_env kernel_env.c)
target_link_libraries(kernel_env PRIVATE synthtab::synthtab)
synthtab_strict(kernel_env)
foreach(case IN ITEMS "scalar=scalar" "bogus=default" "=default")
  string(REPLACE "=" ";" kv "${case}")
  list(GET kv 0 env)
  list(GET kv 1 expect)
  add_test(NAME synth_env_${env} COMMAND kernel_env ${expect})
  set_tests_properties(synth_env_${env} PROPERTIES ENVIRONMENT "SYNTHTAB_KERNEL=${env}")
endforeach()

# Each kernel held to its own output bits (run on every CPU by .ci/cross).
synthtab_gtest(kernel_hash_test kernel_hash_test.cpp)
target_link_libraries(kernel_hash_test PRIVATE synthtab::synthtab)

# The x86 kernels' instruction sets, from their disassembly (.ci/run also
# checks a -march=native build).
if("${SYNTHTAB_KERNELS}" MATCHES "avx2" AND CMAKE_OBJDUMP)
  add_test(NAME kernel_isa
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP}
                   "-DOBJS=$<JOIN:$<TARGET_OBJECTS:synthtab_objects>,|>"
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/kernel_isa.cmake)
endif()

# States as bytes: saved and continued in another process (the test itself,
# which has a main of its own for that), and garbage.
synthtab_gtest(state_test state_test.cpp)
target_link_libraries(state_test PRIVATE synthtab::synthtab)
# The child's command line, '|'-separated: under the cross build's emulator
# where there is one.
string(JOIN "|" _child ${CMAKE_CROSSCOMPILING_EMULATOR} "$<TARGET_FILE:state_test>")
target_compile_definitions(state_test PRIVATE SYNTHTAB_STATE_CHILD="${_child}")
