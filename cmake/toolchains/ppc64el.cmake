# 64-bit POWER, little-endian (Debian ppc64el), crossbuild-essential-ppc64el.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(SYNTHTAB_CROSS_TRIPLET powerpc64le-linux-gnu)
set(SYNTHTAB_CROSS_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
