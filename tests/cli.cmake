# Tests of the synthtab tool. They run the built executable, so they need it.
if(NOT TARGET synthtab_cli)
  return()
endif()

synthtab_gtest(cli_test cli_test.cpp)
target_link_libraries(cli_test PRIVATE synthtab::synthtab)
target_compile_definitions(cli_test PRIVATE SYNTHTAB_CLI="$<TARGET_FILE:synthtab_cli>")
add_dependencies(cli_test synthtab_cli)

# render and verify end to end; audio is read back by other software (Python,
# flac, oggdec: audio_tools.h).
synthtab_gtest(render_test render_test.cpp)
target_link_libraries(render_test PRIVATE synthtab::synthtab)
target_compile_definitions(render_test PRIVATE SYNTHTAB_CLI="$<TARGET_FILE:synthtab_cli>"
                                               $<$<BOOL:${SYNTHTAB_SANITIZE}>:SYNTHTAB_SANITIZED>)
add_dependencies(render_test synthtab_cli)
# Failing fsync, or a filesystem without O_TMPFILE, through LD_PRELOAD.
add_library(faults MODULE faults.c)
target_link_libraries(faults PRIVATE ${CMAKE_DL_LIBS})
target_compile_definitions(render_test PRIVATE SYNTHTAB_FAULTS="$<TARGET_FILE:faults>")
add_dependencies(render_test faults)

# The C output, compiled on its own as strict C99, must equal the live tables
# bit for bit. The tool writes to a temporary so a failed run leaves no file.
foreach(scale IN ITEMS 32768 -2147483648 0)
  string(REPLACE "-" "m" tag ${scale})
  set(rom ${CMAKE_CURRENT_BINARY_DIR}/cli_rom_${tag}.c)
  add_custom_command(OUTPUT ${rom}
    COMMAND synthtab_cli --scale ${scale} --format c > ${rom}.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${rom}.tmp ${rom}
    DEPENDS synthtab_cli
    COMMENT "Generating the C tables for scale ${scale}"
    VERBATIM)
  synthtab_c99_test(cli_rom_${tag} cli_rom_test.c ${rom})
  target_compile_definitions(cli_rom_${tag} PRIVATE SYNTHTAB_ROM_SCALE=${scale})
endforeach()
