# 32-bit Arm without an FPU (Debian armel: ARMv5TE, soft-float),
# crossbuild-essential-armel.
set(CMAKE_SYSTEM_PROCESSOR armv5tel)
set(SYNTHTAB_CROSS_TRIPLET arm-linux-gnueabi)
set(SYNTHTAB_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
