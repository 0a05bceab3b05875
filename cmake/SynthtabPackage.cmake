# `cpack -G DEB` in a build tree: one Debian package with the library, its
# headers, CMake and pkg-config files, the tool and its man page, installed
# under /usr; dpkg-shlibdeps finds what the library and the tool depend on.
set(CPACK_PACKAGE_NAME synthtab)
set(CPACK_PACKAGE_VENDOR synthtab)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Exact tables and a polyphase synthesis filterbank for MPEG-1 audio decoders, callable from C and C++, with the synthtab tool.")
set(CPACK_PACKAGE_CONTACT "synthtab developers <synthtab@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
