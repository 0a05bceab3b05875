# Bare-metal Arm (Cortex-M) with the GNU Arm Embedded toolchain and newlib.
# The CPU comes from the usual flags, for example
#   cmake -S . -B build-m0 --toolchain cmake/arm-none-eabi.cmake \
#     -DCMAKE_C_FLAGS=-mcpu=cortex-m0 -DCMAKE_CXX_FLAGS=-mcpu=cortex-m0
# (-mcpu=cortex-m4 -mfloat-abi=hard -mfpu=fpv4-sp-d16 for a hard-float M4).
# It builds libsynthtab.a alone, as firmware is built: no shared library, tool
# or tests, no position-independent code, -O2, and a section per function and
# per table so that the firmware's --gc-sections keeps only what it calls
# (src/CMakeLists.txt, SYNTHTAB_BAREMETAL). Thumb is implied by -mcpu.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
# No host program can link or run without a startup file and linker script.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# -O2 in every optimised configuration (-O3 would unroll for flash and no
# speed on these cores; docs/microcontrollers.md has the figures). Cache
# entries, so a -DCMAKE_CXX_FLAGS_RELEASE=-Os on the command line still wins.
foreach(lang C CXX)
  set(CMAKE_${lang}_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
  set(CMAKE_${lang}_FLAGS_MINSIZEREL "-Os -DNDEBUG" CACHE STRING "")
  set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "-O2 -g -DNDEBUG" CACHE STRING "")
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
