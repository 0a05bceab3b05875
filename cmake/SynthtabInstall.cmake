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

install(TARGETS ${SYNTHTAB_LIBRARIES} EXPORT synthtabTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${SYNTHTAB_PUBLIC_HEADERS} ${PROJECT_BINARY_DIR}/include/synthtab/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/synthtab)
install(EXPORT synthtabTargets NAMESPACE synthtab:: DESTINATION ${SYNTHTAB_CMAKEDIR})
install(FILES ${PROJECT_BINARY_DIR}/synthtabConfig.cmake
              ${PROJECT_BINARY_DIR}/synthtabConfigVersion.cmake DESTINATION ${SYNTHTAB_CMAKEDIR})
install(FILES ${PROJECT_BINARY_DIR}/synthtab.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# The README beside what it links to, so its links hold where it is installed.
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB _docs docs/*.md docs/*.png)
install(FILES ${_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES examples/stereo_wav.c examples/roundtrip.c examples/roundtrip.cpp
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The tool links the static library, so it runs from any prefix as it is;
# should it ever link the shared one, its RPATH finds it relative to itself.
if(TARGET synthtab_cli)
  file(RELATIVE_PATH _up /p/${CMAKE_INSTALL_BINDIR} /p/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(synthtab_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_up}")
  install(TARGETS synthtab_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES docs/synthtab.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
