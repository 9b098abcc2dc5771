# Sources of the Windows collector. Each builds on any platform: the parse
# and format steps always, the Windows calls only under _WIN32, so the
# steps are tested by the Linux build too.
set(KOLVEX_WINDOWS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WindowsKolvex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/adapters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_runner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system_disk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wmic_probes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/workstation.cpp)
