# Windows x86-64 with Debian's MinGW-w64 (g++-mingw-w64-x86-64). Programs
# built here are not run (.ci/windows checks them). The posix thread model;
# programs link the GCC runtime statically, so no MinGW DLL but ours has to
# be found at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SYNTHTAB_CROSS_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SYNTHTAB_CROSS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SYNTHTAB_CROSS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SYNTHTAB_CROSS_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SYNTHTAB_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc")
