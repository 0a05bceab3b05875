# 32-bit Arm, hard float (Debian armhf), crossbuild-essential-armhf.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(SYNTHTAB_CROSS_TRIPLET arm-linux-gnueabihf)
set(SYNTHTAB_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
