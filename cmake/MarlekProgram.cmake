# marlek_program(NAME SOURCES... LIBRARIES ...): one of the console programs.
# On Windows it carries the application manifest; every program is installed.
function(marlek_program name)
  cmake_parse_arguments(PARSE_ARGV 1 PROGRAM "" "" "SOURCES;LIBRARIES")
  add_executable(${name} ${PROGRAM_SOURCES})
  target_link_libraries(${name} PRIVATE ${PROGRAM_LIBRARIES})
  marlek_program_code(${name})
  if(WIN32)
    set(resources ${PROJECT_SOURCE_DIR}/common/windows/program.rc)
    target_sources(${name} PRIVATE ${resources})
    set_source_files_properties(${resources} PROPERTIES
      OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/common/windows/program.manifest)
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
