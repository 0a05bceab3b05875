# The synthesis filterbank: fast path against the direct form, the direct form
# against the window data, PCM conversion.
synthtab_gtest(synth_test synth_test.cpp)
target_link_libraries(synth_test PRIVATE synthtab::synthtab)
target_compile_definitions(synth_test PRIVATE
  SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")

