# 64-bit RISC-V (Debian riscv64), g++-riscv64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(SYNTHTAB_CROSS_TRIPLET riscv64-linux-gnu)
set(SYNTHTAB_CROSS_QEMU qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
