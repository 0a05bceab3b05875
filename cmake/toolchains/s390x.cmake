# IBM Z, big-endian (Debian s390x), crossbuild-essential-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(SYNTHTAB_CROSS_TRIPLET s390x-linux-gnu)
set(SYNTHTAB_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
