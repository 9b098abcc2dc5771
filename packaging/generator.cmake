# CPack reads this once per generator.
# The rpm set has no Python package (its module folder is Debian's), and its
# binaries are stripped (the Debian packages move the debug information into
# -dbgsym packages instead).
if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_COMPONENTS_ALL library development program)
  set(CPACK_STRIP_FILES ON)
endif()
# A CPack older than 3.20 splits the debug information with the first
# objcopy and readelf on PATH, the host's: give it the target's.
if(CPACK_OBJCOPY_EXECUTABLE AND CPACK_READELF_EXECUTABLE)
  set(OBJCOPY_EXECUTABLE "${CPACK_OBJCOPY_EXECUTABLE}")
  set(READELF_EXECUTABLE "${CPACK_READELF_EXECUTABLE}")
endif()
