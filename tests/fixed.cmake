# The integer filterbank: its tables, its accuracy against the direct form
# and the double filterbank, its contract; real recordings as Python reads them.
synthtab_gtest(fixed_test fixed_test.cpp)
target_link_libraries(fixed_test PRIVATE synthtab::synthtab)
# The contract again with the portable kernel, where a SIMD one is the default.
add_test(NAME fixed_test_portable COMMAND fixed_test)
set_tests_properties(fixed_test_portable PROPERTIES ENVIRONMENT SYNTHTAB_KERNEL=scalar)

# The same output bits on every CPU, as a C99 decoder sees it (.ci/cross),
# and from every kernel: the one chosen, then the portable one.
synthtab_c99_test(fixed_hash fixed_hash.c)
add_test(NAME fixed_hash_portable COMMAND fixed_hash)
set_tests_properties(fixed_hash_portable PROPERTIES ENVIRONMENT SYNTHTAB_KERNEL=scalar)

# synthtab --format c-fixed, compiled on its own as strict C99, must equal the
# library's tables.
if(TARGET synthtab_cli)
  set(rom ${CMAKE_CURRENT_BINARY_DIR}/cli_rom_fixed.c)
  add_custom_command(OUTPUT ${rom}
    COMMAND synthtab_cli --format c-fixed > ${rom}.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${rom}.tmp ${rom}
    DEPENDS synthtab_cli
    COMMENT "Generating the integer tables as C"
    VERBATIM)
  synthtab_c99_test(cli_rom_fixed cli_rom_fixed_test.c ${rom})
endif()

# verify --fixed and render --fixed end to end.
if(TARGET synthtab_cli)
  synthtab_gtest(fixed_cli_test fixed_cli_test.cpp)
  target_link_libraries(fixed_cli_test PRIVATE synthtab::synthtab)
  target_compile_definitions(fixed_cli_test PRIVATE SYNTHTAB_CLI="$<TARGET_FILE:synthtab_cli>")
  add_dependencies(fixed_cli_test synthtab_cli)
endif()
