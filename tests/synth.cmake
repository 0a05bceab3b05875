# The synthesis filterbank: fast path against the direct form, the direct form
# against the window data, PCM conversion.
synthtab_gtest(synth_test synth_test.cpp)
target_link_libraries(synth_test PRIVATE synthtab::synthtab)
target_compile_definitions(synth_test PRIVATE
  SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")

# synthtab render and verify, end to end; WAV output is read back with libsndfile.
if(TARGET synthtab_cli)
  synthtab_gtest(render_test render_test.cpp)
  target_link_libraries(render_test PRIVATE synthtab::synthtab PkgConfig::SNDFILE)
  target_compile_definitions(render_test PRIVATE SYNTHTAB_CLI="$<TARGET_FILE:synthtab_cli>")
  add_dependencies(render_test synthtab_cli)
endif()
