# Installation: program, library, header, CMake package, pkg-config file and
# a Debian package.
include(CMakePackageConfigHelpers)

install(TARGETS kolvex EXPORT kolvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kolvex)
install(TARGETS kolvexforlinux RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT kolvexTargets
  NAMESPACE kolvex::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kolvex)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/kolvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kolvex)
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kolvex)

configure_file(${PROJECT_SOURCE_DIR}/cmake/kolvex.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/kolvex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kolvex.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME kolvex)
set(CPACK_PACKAGE_VENDOR "kolvex")
set(CPACK_PACKAGE_CONTACT "kolvex developers <dev@kolvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Terminal identity collector: kolvexforlinux and libkolvex")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dmidecode, lshw")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg reports the host's architecture, not the target's.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  endif()
  # The target's runtime libraries are not installed on the host:
  # dpkg-shlibdeps finds them, and beside them the DEBIAN/symbols files it
  # derives the dependencies from, in raw-extracted packages of the target
  # (scripts/stages/arm64.sh provides them).
  set(KOLVEX_DEB_LIBRARY_DIRS "" CACHE STRING
    "Library directories of raw-extracted runtime packages of the target")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${KOLVEX_DEB_LIBRARY_DIRS})
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
