# CPack post-build step for the Debian packages (see finish-packages.sh).
if(CPACK_GENERATOR STREQUAL "DEB")
  execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/finish-packages.sh" ${CPACK_PACKAGE_FILES}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
