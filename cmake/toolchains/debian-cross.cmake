# Shared part of the toolchain files for Debian's cross compilers
# (crossbuild-essential-*, g++-riscv64-linux-gnu). The per-CPU file sets
# SYNTHTAB_CROSS_TRIPLET (compiler prefix and /usr/<triplet> root),
# SYNTHTAB_CROSS_QEMU (the qemu-user binary) and CMAKE_SYSTEM_PROCESSOR, then
# includes this. Tests run under qemu-user through the crossing emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${SYNTHTAB_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${SYNTHTAB_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${SYNTHTAB_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SYNTHTAB_CROSS_QEMU} -L /usr/${SYNTHTAB_CROSS_TRIPLET})
