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
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
