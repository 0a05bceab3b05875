# A program that runs the integer filterbank alone, linked against the static
# library, holds none of the double filterbanks' kernels: read from its
# symbols.
#   cmake -DNM=nm -DEXE=program -P fixed_alone.cmake
execute_process(COMMAND ${NM} -C ${EXE} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(rc OR NOT syms MATCHES "synthtab_fixed_s16")
  message(FATAL_ERROR "${NM} finds no synthtab_fixed_s16 in ${EXE}")
endif()
set(double "synthtab::kernel::(scalar|sse2|avx2|neon)::(f64|f32|s16|analysis)\\(|kDouble|kTransposedWindow|kAnalysisWindow|synthtab_synth_|synthtab_analysis_")
string(REGEX MATCHALL "[^\n]*(${double})[^\n]*" found "${syms}")
if(found)
  list(GET found 0 first)
  message(FATAL_ERROR "${EXE} links double kernels, e.g. ${first}")
endif()
message(STATUS "${EXE} links the integer kernels alone")
