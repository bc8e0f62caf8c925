# Run by CPack before it makes a package of what it installed: rpmbuild keeps
# the time of each file, only lowering those later than SOURCE_DATE_EPOCH,
# so every file is given that time, as the other packages give it.
if(CPACK_GENERATOR STREQUAL "RPM")
  if(NOT IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
    message(FATAL_ERROR "No installed files to date: '${CPACK_TEMPORARY_INSTALL_DIRECTORY}'")
  endif()
  execute_process(COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
                          -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
