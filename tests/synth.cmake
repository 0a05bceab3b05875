# The synthesis filterbank: fast path against the direct form, the direct form
# against the window data, PCM conversion.
synthtab_gtest(synth_test synth_test.cpp)
target_link_libraries(synth_test PRIVATE synthtab::synthtab)
target_compile_definitions(synth_test PRIVATE
  SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")

# SYNTHTAB_KERNEL at first use: a name this CPU runs is taken, any other is
# ignored in favour of the default.
foreach(case IN ITEMS "scalar=scalar" "bogus=default" "=default")
  string(REPLACE "=" ";" kv "${case}")
  list(GET kv 0 env)
  list(GET kv 1 expect)
  add_test(NAME synth_env_${env}
           COMMAND synth_test --gtest_filter=Kernels.EnvironmentChoosesAtFirstUse)
  set_tests_properties(synth_env_${env} PROPERTIES
    ENVIRONMENT "SYNTHTAB_KERNEL=${env};SYNTHTAB_EXPECT=${expect}")
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
