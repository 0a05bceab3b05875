# 64-bit Arm (Debian arm64), crossbuild-essential-arm64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(SYNTHTAB_CROSS_TRIPLET aarch64-linux-gnu)
set(SYNTHTAB_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
