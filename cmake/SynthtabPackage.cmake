# `cpack -G DEB` in a build tree configured with -DCMAKE_INSTALL_PREFIX=/usr:
# three Debian packages, split as Debian splits a library, one per install
# component (SynthtabInstall.cmake):
#   libsynthtab2     the shared library (named for its SONAME), depends on libc6
#   libsynthtab-dev  headers, static library, the .so link, CMake and
#                    pkg-config files, README, docs and examples; depends on
#                    libsynthtab2 of the same version
#   synthtab         the tool and its man page
# Each has a copyright file and a changelog in /usr/share/doc/<package>;
# binaries are stripped (no debug package); dpkg-shlibdeps finds what the
# library and the tool depend on.
set(SYNTHTAB_DEB_MAINTAINER "synthtab maintainers <maintainers@synthtab.invalid>" CACHE STRING
    "Maintainer of the Debian packages, \"Name <address>\"")

set(CPACK_PACKAGE_NAME synthtab)
set(CPACK_PACKAGE_VENDOR synthtab)
set(CPACK_PACKAGE_CONTACT "${SYNTHTAB_DEB_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev)
if(TARGET synthtab_cli)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# Each package's Description: its own synopsis, then the text. (A summary
# equal to CPack's default is the one CPack does not put before it.)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(_about "synthtab prepares the tables that the synthesis stage of an MPEG-1 audio
decoder reads, exact to the last bit, and holds a polyphase synthesis
filterbank, an analysis filterbank and an integer filterbank, callable from
C and C++. It is not a decoder and reads no MPEG audio.
.")

set(_lib libsynthtab${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${_lib})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIB_DESCRIPTION "exact tables and filterbanks for MPEG-1 audio synthesis
${_about}
This package holds the shared library.")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # (only lib has a shared library)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libsynthtab-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${_lib} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "synthtab's headers, static library, CMake and pkg-config files
${_about}
This package holds what building against the library needs: the headers,
the static library, the CMake and pkg-config files, and the documentation
with the examples.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME synthtab)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "tables, synthesis and analysis from the command line
${_about}
This package holds the synthtab tool (tables, render, analyze, verify) and
its man page.")

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(CPack)
  return()
endif()

# The library's ldconfig trigger, and maintainer scripts of our own so that
# CPack writes none calling ldconfig.
set(_debian ${PROJECT_BINARY_DIR}/debian)
file(WRITE ${_debian}/lib/triggers "activate-noawait ldconfig\n")
foreach(script IN ITEMS postinst postrm)
  file(WRITE ${_debian}/lib/${script} "#!/bin/sh\nset -e\n")
  file(CHMOD ${_debian}/lib/${script} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${_debian}/lib/triggers ${_debian}/lib/postinst
    ${_debian}/lib/postrm)

# copyright (the machine-readable format, LICENSE's text) and changelog, per
# package, installed only into the packages (EXCLUDE_FROM_ALL).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${_license}")
set(SYNTHTAB_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^[^\n]*\n+Copyright[^\n]*\n+" "" _license "${_license}")  # the terms alone
string(STRIP "${_license}" _license)
string(REGEX REPLACE "\n\n+" "\n.\n" _license "${_license}")
string(REPLACE "\n" "\n " SYNTHTAB_LICENSE_TEXT " ${_license}")
string(TIMESTAMP SYNTHTAB_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # (SOURCE_DATE_EPOCH if set)
find_program(GZIP gzip REQUIRED)
set(_gz)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} _c)
  set(SYNTHTAB_DEB_PACKAGE ${CPACK_DEBIAN_${_c}_PACKAGE_NAME})
  set(_dir ${_debian}/${component})
  configure_file(cmake/debian/copyright.in ${_dir}/copyright @ONLY)
  configure_file(cmake/debian/changelog.in ${_dir}/changelog @ONLY)
  add_custom_command(OUTPUT ${_dir}/changelog.gz
    COMMAND ${GZIP} -9nc ${_dir}/changelog > ${_dir}/changelog.gz
    DEPENDS ${_dir}/changelog VERBATIM)
  list(APPEND _gz ${_dir}/changelog.gz)
  install(FILES ${_dir}/copyright ${_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${SYNTHTAB_DEB_PACKAGE}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
add_custom_target(synthtab_debian_changelogs ALL DEPENDS ${_gz})

configure_file(cmake/debian/check.cmake.in ${_debian}/check.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${_debian}/check.cmake)
include(CPack)
