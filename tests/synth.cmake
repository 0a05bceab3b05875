# The synthesis filterbank: fast path against the direct form, the direct form
# against the window data, PCM conversion.
add_executable(synth_test synth_test.cpp)
target_link_libraries(synth_test PRIVATE synthtab::synthtab GTest::gtest_main)
target_compile_definitions(synth_test PRIVATE
  SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")
synthtab_strict(synth_test)
gtest_discover_tests(synth_test TEST_PREFIX "synth_test/")

# synthtab render and verify, end to end; WAV output is read back with libsndfile.
if(TARGET synthtab_cli)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
  add_executable(render_test render_test.cpp)
  target_link_libraries(render_test PRIVATE synthtab::synthtab GTest::gtest_main
                                            PkgConfig::SNDFILE)
  target_compile_definitions(render_test PRIVATE SYNTHTAB_CLI="$<TARGET_FILE:synthtab_cli>")
  add_dependencies(render_test synthtab_cli)
  synthtab_strict(render_test)
  gtest_discover_tests(render_test TEST_PREFIX "render_test/")
endif()
