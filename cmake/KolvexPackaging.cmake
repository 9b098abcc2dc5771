# Installation and packages.
#
# Linux: program, library, headers, CMake package, pkg-config file and the
# Python module, split into four Debian packages the usual way: libkolvex1
# (the shared library), libkolvex-dev (what a client builds against), kolvex
# (the program and its manual page) and python3-kolvex (the module). Configure with -DCMAKE_INSTALL_PREFIX=/usr for packages,
# so that the library lands in the multiarch directory and the program needs
# no run path (scripts/package-deb.sh does this).
#
# Windows: two ZIPs per architecture (win64, win32). The release ZIP holds
# the program, a short README, and beside them what an application needs to
# call kolvex.dll: the DLL, its header, the import libraries for MSVC
# (kolvex.lib) and mingw (libkolvex.dll.a) and the .def file, all binaries
# stripped. The debug ZIP holds their separated debug information, each
# NAME.debug under the same folder name, so that unpacked over the release
# folder it lands beside the binary whose debug link names it.
if(WIN32)
  install(TARGETS kolvexforWindows RUNTIME DESTINATION . COMPONENT program)
  install(TARGETS kolvex_dll RUNTIME DESTINATION . COMPONENT program
    ARCHIVE DESTINATION . COMPONENT program)
  install(FILES ${PROJECT_SOURCE_DIR}/windows/kolvex.def
    ${PROJECT_SOURCE_DIR}/include/kolvex/kolvex_c.h DESTINATION . COMPONENT program)
  if(KOLVEX_DLLTOOL)
    install(FILES ${PROJECT_BINARY_DIR}/windows/kolvex.lib DESTINATION . COMPONENT program)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/docs/README-windows.txt
    DESTINATION . RENAME README.txt COMPONENT program)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT program)
  install(FILES $<TARGET_FILE:kolvexforWindows>.debug $<TARGET_FILE:kolvex_dll>.debug
    DESTINATION . COMPONENT debug)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(_kolvex_zip kolvexforWindows-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME kolvexforWindows)
  set(CPACK_PACKAGE_VENDOR "kolvex developers")
  set(CPACK_COMPONENTS_ALL program debug)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_ARCHIVE_PROGRAM_FILE_NAME ${_kolvex_zip})
  set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${_kolvex_zip}-debug)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME ${_kolvex_zip})
  include(CPack)
  return()
endif()

include(CMakePackageConfigHelpers)
set(_kolvex_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kolvex)

install(TARGETS kolvex EXPORT kolvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT library NAMELINK_COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kolvex
    COMPONENT development)
install(TARGETS kolvexforlinux RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT program)

install(EXPORT kolvexTargets
  NAMESPACE kolvex::
  DESTINATION ${_kolvex_cmake_dir}
  COMPONENT development)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/kolvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfig.cmake
  INSTALL_DESTINATION ${_kolvex_cmake_dir})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/kolvexConfigVersion.cmake
  DESTINATION ${_kolvex_cmake_dir}
  COMPONENT development)

# kolvex.pc finds the prefix relative to itself, so the installed tree can
# be moved; the depth depends on the library directory (lib, or the
# multiarch lib/<triplet>).
file(RELATIVE_PATH KOLVEX_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/kolvex.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/kolvex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kolvex.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# The Python module: plain source over libkolvex.so.1, where Debian's
# python3 finds it, with the .dist-info an installed distribution has
# (METADATA, top_level.txt, RECORD), so that importlib.metadata and pip know
# it. METADATA takes its summary and Python version from pyproject.toml, the
# version from the project; RECORD holds digests and sizes as Debian's own
# Python packages do.
set(_kolvex_python ${PROJECT_SOURCE_DIR}/bindings/python)
set(_kolvex_dist_info kolvex-${PROJECT_VERSION}.dist-info)
set(_kolvex_dist ${CMAKE_CURRENT_BINARY_DIR}/python/${_kolvex_dist_info})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${_kolvex_python}/pyproject.toml ${_kolvex_python}/kolvex/__init__.py ${_kolvex_python}/kolvex/py.typed)
file(READ ${_kolvex_python}/pyproject.toml _kolvex_pyproject)
string(REGEX MATCH "\ndescription = \"([^\"]*)\"" _ "${_kolvex_pyproject}")
set(_kolvex_py_summary "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nrequires-python = \"([^\"]*)\"" _ "${_kolvex_pyproject}")
file(WRITE ${_kolvex_dist}/METADATA "Metadata-Version: 2.1
Name: kolvex
Version: ${PROJECT_VERSION}
Summary: ${_kolvex_py_summary}
License: Apache-2.0
Requires-Python: ${CMAKE_MATCH_1}
")
file(WRITE ${_kolvex_dist}/top_level.txt "kolvex\n")
# RECORD's digests are urlsafe base64 without padding, as a wheel's.
function(_kolvex_record_digest hex out)
  set(_alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_")
  string(LENGTH "${hex}" _length)
  set(_digest "")
  set(_at 0)
  while(_at LESS _length)
    # Three bytes (six hex digits) give four characters; a shorter last group
    # of n bytes gives n + 1.
    string(SUBSTRING "${hex}" ${_at} 6 _group)
    string(LENGTH "${_group}" _digits)
    math(EXPR _value "0x${_group} << (4 * (6 - ${_digits}))")
    math(EXPR _chars "${_digits} / 2 + 1")
    foreach(_shift 18 12 6 0)
      if(_chars GREATER 0)
        math(EXPR _index "(${_value} >> ${_shift}) & 63")
        string(SUBSTRING "${_alphabet}" ${_index} 1 _char)
        string(APPEND _digest "${_char}")
        math(EXPR _chars "${_chars} - 1")
      endif()
    endforeach()
    math(EXPR _at "${_at} + 6")
  endwhile()
  set(${out} "${_digest}" PARENT_SCOPE)
endfunction()
set(_kolvex_record "")
foreach(_file IN ITEMS ${_kolvex_python}/kolvex/__init__.py ${_kolvex_python}/kolvex/py.typed
    ${_kolvex_dist}/METADATA ${_kolvex_dist}/top_level.txt)
  file(SHA256 ${_file} _hex)
  _kolvex_record_digest(${_hex} _hash)
  file(SIZE ${_file} _size)
  get_filename_component(_name ${_file} NAME)
  get_filename_component(_folder ${_file} DIRECTORY)
  get_filename_component(_folder ${_folder} NAME)
  string(APPEND _kolvex_record "${_folder}/${_name},sha256=${_hash},${_size}\n")
endforeach()
file(WRITE ${_kolvex_dist}/RECORD "${_kolvex_record}${_kolvex_dist_info}/RECORD,,\n")
install(FILES ${_kolvex_python}/kolvex/__init__.py ${_kolvex_python}/kolvex/py.typed
  DESTINATION lib/python3/dist-packages/kolvex COMPONENT python)
install(DIRECTORY ${_kolvex_dist} DESTINATION lib/python3/dist-packages COMPONENT python)

# Manual page and Debian changelog, compressed without name or time stamp so
# that two builds give the same bytes.
set(_kolvex_man ${CMAKE_CURRENT_BINARY_DIR}/kolvexforlinux.1.gz)
set(_kolvex_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${_kolvex_man}
  COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/docs/kolvexforlinux.1 ${_kolvex_man}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/kolvexforlinux.1 VERBATIM)
add_custom_command(OUTPUT ${_kolvex_changelog}
  COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${_kolvex_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(kolvex_package_docs ALL DEPENDS ${_kolvex_man} ${_kolvex_changelog})
# A build of the program or the library alone (scripts/run.sh builds only
# kolvexforlinux) must still install: the install rules name these files.
add_dependencies(kolvex kolvex_package_docs)
install(FILES ${_kolvex_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)

# Debian: one package per component, each with its copyright and changelog.
set(_kolvex_packages library libkolvex1 development libkolvex-dev program kolvex
  python python3-kolvex)
while(_kolvex_packages)
  list(POP_FRONT _kolvex_packages _component _package)
  string(TOUPPER ${_component} _COMPONENT)
  set(CPACK_DEBIAN_${_COMPONENT}_PACKAGE_NAME ${_package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_kolvex_changelog}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package}
    COMPONENT ${_component})
endwhile()

set(_kolvex_exact "libkolvex1 (= ${PROJECT_VERSION})")
set(CPACK_PACKAGE_NAME kolvex)
set(CPACK_PACKAGE_VENDOR "kolvex developers")
set(CPACK_PACKAGE_CONTACT "kolvex developers <dev@kolvex.invalid>")
set(CPACK_COMPONENTS_ALL library development program python)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(_kolvex_about
  "kolvex collects the identifying data of the computer it runs on (time,
IPv4 and MAC addresses of up to two network interfaces, host name, kernel
release, disk serial, CPU ID and BIOS serial) into one line of text, the
terminal record, and reports which items came out empty.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "terminal identity collector - shared library
${_kolvex_about}

This package contains the shared library that client applications call.")
# shlibs for dependants, and the ldconfig trigger instead of maintainer
# scripts (see packaging/debian/finish-packages.sh).
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # only libkolvex1 holds a library
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_LIBRARY_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${_kolvex_exact}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "terminal identity collector - development files
${_kolvex_about}

This package contains the headers, the CMake package (find_package(kolvex))
and the pkg-config file needed to build client applications, in C++ or C.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION admin)
# dmidecode is the only source of the BIOS serial; lshw is the disk serial's
# last resort, after the kernel's own sources.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "${_kolvex_exact}, dmidecode")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS "lshw")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SHLIBDEPS ON)
# libkolvex.so.1 is not installed while the packages are built: let
# dpkg-shlibdeps find it in the build tree (its dependency is stated above).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_CURRENT_BINARY_DIR})
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
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${KOLVEX_DEB_LIBRARY_DIRS})
endif()
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "terminal identity collector - command-line program
${_kolvex_about}

This package contains kolvexforlinux, which runs one collection and prints
its progress log, a summary and the record. On most machines an ordinary
user gets every item but the BIOS serial, which needs root.")
set(CPACK_DEBIAN_PROGRAM_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
# Any architecture's library of this version or later: an all package
# cannot pin the exact build of an architecture-dependent one.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libkolvex1 (>= ${PROJECT_VERSION}), python3")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "terminal identity collector - Python module
${_kolvex_about}

This package contains the Python module kolvex: kolvex.collect() runs a
collection through libkolvex, quietly, and kolvex.parse() reads a record
received from elsewhere.")

set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian/finish-packages.cmake)

# rpm (cpack -G RPM, configured with -DCMAKE_INSTALL_PREFIX=/usr
# -DCMAKE_INSTALL_LIBDIR=lib64): the same split under the names rpm systems
# use, the Python module left out (its folder is Debian's). Requires and
# Provides come from rpm's own reading of the binaries; the payload is xz,
# which every rpm since CentOS 7's reads.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/generator.cmake)
set(CPACK_OBJCOPY_EXECUTABLE ${CMAKE_OBJCOPY})
set(CPACK_READELF_EXECUTABLE ${CMAKE_READELF})
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE "Apache-2.0")
set(CPACK_RPM_PACKAGE_GROUP "System Environment/Base")
set(CPACK_RPM_PACKAGE_URL "https://kolvex.invalid/")
set(CPACK_RPM_COMPRESSION_TYPE xz)
# No /usr/lib/.build-id links: a library package holds only its soname's files.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
%define _build_id_links none")
set(CPACK_RPM_PACKAGE_AUTOREQPROV ON)
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(CPACK_RPM_PACKAGE_ARCHITECTURE aarch64)
endif()
set(_kolvex_rpm_exact "kolvex-libs = ${PROJECT_VERSION}-${CPACK_RPM_PACKAGE_RELEASE}")
set(CPACK_RPM_LIBRARY_PACKAGE_NAME kolvex-libs)
set(CPACK_RPM_LIBRARY_PACKAGE_SUMMARY "Terminal identity collector, shared library")
set(CPACK_RPM_LIBRARY_POST_INSTALL_SCRIPT_FILE ${PROJECT_SOURCE_DIR}/packaging/rpm/ldconfig.sh)
set(CPACK_RPM_LIBRARY_POST_UNINSTALL_SCRIPT_FILE ${PROJECT_SOURCE_DIR}/packaging/rpm/ldconfig.sh)
set(CPACK_RPM_DEVELOPMENT_PACKAGE_NAME kolvex-devel)
set(CPACK_RPM_DEVELOPMENT_PACKAGE_SUMMARY "Terminal identity collector, development files")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_REQUIRES "${_kolvex_rpm_exact}")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_PROVIDES "pkgconfig(kolvex) = ${PROJECT_VERSION}")
set(CPACK_RPM_DEVELOPMENT_PACKAGE_GROUP "Development/Libraries")
set(CPACK_RPM_PROGRAM_PACKAGE_NAME kolvex)
set(CPACK_RPM_PROGRAM_PACKAGE_SUMMARY "Terminal identity collector, command-line program")
set(CPACK_RPM_PROGRAM_PACKAGE_REQUIRES "${_kolvex_rpm_exact}, dmidecode")
foreach(_component LIBRARY DEVELOPMENT PROGRAM)
  string(REGEX REPLACE "^[^\n]*\n" "" CPACK_RPM_${_component}_PACKAGE_DESCRIPTION
    "${CPACK_DEBIAN_${_component}_DESCRIPTION}")
endforeach()
# Folders the system's own packages own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/lib64/cmake /usr/lib64/pkgconfig
  /usr/share/man /usr/share/man/man1 /usr/share/doc)
include(CPack)
