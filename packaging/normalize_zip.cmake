# Run by cpack after it packs the .zip. CPack takes the entries' times from
# SOURCE_DATE_EPOCH, but lists them in the order the folder lists its files,
# with the owner who packed them; strip-nondeterminism sorts them by name and
# clears the owner. Times in UTC, so that the time zone of the build is not
# kept either.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.zip$")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${CPACK_MARLEK_STRIP_NONDETERMINISM}
                            --type zip --timestamp $ENV{SOURCE_DATE_EPOCH} ${package}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
