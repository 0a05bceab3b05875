# The CMake package (installed and build-tree), the pkg-config file and the
# install rules. The shared library's major version is its ABI version: it
# changes exactly when a table's layout or a symbol does.
include(CMakePackageConfigHelpers)

set(SYNTHTAB_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/synthtab)

configure_package_config_file(cmake/synthtabConfig.cmake.in
  ${PROJECT_BINARY_DIR}/synthtabConfig.cmake INSTALL_DESTINATION ${SYNTHTAB_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/synthtabConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)

# Lets another build use this build tree directly with find_package.
export(TARGETS ${SYNTHTAB_LIBRARIES} NAMESPACE synthtab::
       FILE ${PROJECT_BINARY_DIR}/synthtabTargets.cmake)

# pkg-config finds the prefix from the .pc file's own place, so an installed
# tree can move.
file(RELATIVE_PATH SYNTHTAB_PC_UP /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(cmake/synthtab.pc.in ${PROJECT_BINARY_DIR}/synthtab.pc @ONLY)

if(NOT SYNTHTAB_INSTALL)
  return()
endif()

# Three components, which the Debian packages follow (SynthtabPackage.cmake):
# lib the shared library alone, dev what building against it needs, tool
# the synthtab tool and its man page.
install(TARGETS ${SYNTHTAB_LIBRARIES} EXPORT synthtabTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# A stripped install (cmake --install --strip, and the Debian packages)
# drops the static library's debug information too, as Debian does.
if(CMAKE_STRIP)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:synthtab_static>\")
  endif()" COMPONENT dev)
endif()
install(FILES ${SYNTHTAB_PUBLIC_HEADERS} ${PROJECT_BINARY_DIR}/include/synthtab/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/synthtab COMPONENT dev)
install(EXPORT synthtabTargets NAMESPACE synthtab:: DESTINATION ${SYNTHTAB_CMAKEDIR} COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/synthtabConfig.cmake
              ${PROJECT_BINARY_DIR}/synthtabConfigVersion.cmake
        DESTINATION ${SYNTHTAB_CMAKEDIR} COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/synthtab.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)
# The README beside what it links to, so its links hold where it is installed.
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT dev
        PATTERN synthtab.1 EXCLUDE)  # (installed as the man page)
install(FILES examples/stereo_wav.c examples/roundtrip.c examples/roundtrip.cpp
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT dev)
# The tool links the static library, so it runs from any prefix as it is;
# should it ever link the shared one, its RPATH finds it relative to itself.
# Its man page goes compressed, as man-db reads it and Debian wants it.
if(TARGET synthtab_cli)
  file(RELATIVE_PATH _up /p/${CMAKE_INSTALL_BINDIR} /p/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(synthtab_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_up}")
  install(TARGETS synthtab_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  find_program(GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/synthtab.1.gz
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/synthtab.1 > ${PROJECT_BINARY_DIR}/synthtab.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/synthtab.1 VERBATIM)
  add_custom_target(synthtab_man ALL DEPENDS ${PROJECT_BINARY_DIR}/synthtab.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/synthtab.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
endif()
