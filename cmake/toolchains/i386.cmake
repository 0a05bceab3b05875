# 32-bit x86 (Debian i386), crossbuild-essential-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SYNTHTAB_CROSS_TRIPLET i686-linux-gnu)
set(SYNTHTAB_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
