# The analysis filterbank: against its direct form, and analysis + synthesis
# round trips on synthetic input.
synthtab_gtest(analysis_test analysis_test.cpp)
target_link_libraries(analysis_test PRIVATE synthtab::synthtab)
target_compile_definitions(analysis_test PRIVATE
  SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")

# The header as strict C99, the names as plain C symbols.
synthtab_c99_test(analysis_c analysis_c.c)

# synthtab analyze end to end on real recordings from alsa-utils, files other
# software made (Python, flac, oggenc: audio_tools.h), and the README's
# pipeline as written.
if(TARGET synthtab_cli)
  synthtab_gtest(analyze_test analyze_test.cpp)
  target_link_libraries(analyze_test PRIVATE synthtab::synthtab)
  target_compile_definitions(analyze_test PRIVATE
    SYNTHTAB_CLI="$<TARGET_FILE:synthtab_cli>"
    SYNTHTAB_README="${PROJECT_SOURCE_DIR}/docs/analysis.md"
    SYNTHTAB_WINDOW_DATA="${PROJECT_SOURCE_DIR}/data/synthesis-window.txt")
  add_dependencies(analyze_test synthtab_cli)
endif()
