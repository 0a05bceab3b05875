# Options and the compiler flags every synthtab target shares.

include(GNUInstallDirs)

# The tests are off by default: the plain build is the library and the tool.
# At top level BUILD_TESTING switches them, as often as it changes; as a
# subproject only SYNTHTAB_BUILD_TESTS does.
option(SYNTHTAB_BUILD_TESTS "Build the tests" OFF)
if(PROJECT_IS_TOP_LEVEL)
  option(BUILD_TESTING "Build the tests (GoogleTest, CTest)" OFF)
  if(BUILD_TESTING)
    set(SYNTHTAB_BUILD_TESTS ON)
  endif()
endif()
# The tool is POSIX-only (POSIX file replacement): off on Windows.
set(_tools ${PROJECT_IS_TOP_LEVEL})
if(WIN32)
  set(_tools OFF)
endif()
option(SYNTHTAB_BUILD_TOOLS "Build the synthtab command-line tool" ${_tools})
# The tool's compressed formats, each found with pkg-config; without them it
# keeps WAV, AIFF, raw and .npy.
option(SYNTHTAB_WITH_FLAC "The tool reads and writes FLAC (libFLAC)" OFF)
option(SYNTHTAB_WITH_VORBIS "The tool reads and writes Ogg Vorbis (libvorbis)" OFF)
option(SYNTHTAB_BUILD_BENCH "Build the benchmarks (needs Google Benchmark)" OFF)
option(SYNTHTAB_INSTALL "Generate install rules" ${PROJECT_IS_TOP_LEVEL})
option(SYNTHTAB_WERROR "Treat compiler warnings as errors" OFF)
option(SYNTHTAB_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES AND PROJECT_IS_TOP_LEVEL)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

if(SYNTHTAB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings for our own targets. Floating point stays strict: no contraction
# into fused multiply-adds, no fast-math, so every table is bit-exact.
function(synthtab_strict target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off
                                             $<$<BOOL:${SYNTHTAB_WERROR}>:-Werror>)
  endif()
endfunction()

# 32-bit x86: double arithmetic in SSE2 registers, as on x86-64. On the x87
# unit the filterbank's sums would carry excess precision and its output would
# differ in the last bits from every other CPU's; GCC also warns (-Wpsabi)
# about vector types without SSE. The table unit's long double is x87 anyway.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  add_compile_options(-msse2 -mfpmath=sse)
endif()
