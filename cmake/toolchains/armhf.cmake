# 32-bit Arm, hard float (Debian armhf), crossbuild-essential-armhf.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(SYNTHTAB_CROSS_TRIPLET arm-linux-gnueabihf)
set(SYNTHTAB_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# GCC notes on every std::vector<double> iterator passed by value that its
# passing changed in GCC 7.1 (-Wpsabi); nothing here links code that old.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
