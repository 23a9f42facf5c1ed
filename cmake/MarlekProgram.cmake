# marlek_program(NAME SOURCES... LIBRARIES ...): one of the console programs.
# On Windows it carries the application manifest; every program is installed.
#
# In the build tree a program finds the simulated board library where that is
# built, through a search path relative to the program's own folder, so it
# runs on the simulated board with no setup wherever the tree is moved
# (LD_LIBRARY_PATH still takes precedence). The path is built in as it is
# installed, then taken out of the installed program: CMake's own build path
# would end in an empty entry, which the loader takes for the working folder.
# Installed, a program carries no search path and binds the libmarlek.so that
# the system's loader finds: the maker's.
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
  install(TARGETS ${name} COMPONENT tools RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT WIN32)
    get_target_property(library_folder marlek BINARY_DIR)
    file(RELATIVE_PATH to_library ${CMAKE_CURRENT_BINARY_DIR} ${library_folder})
    set_target_properties(${name} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN/${to_library}")
    install(CODE "file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")"
            COMPONENT tools)
  endif()
endfunction()

# marlek_stand_in_library(TARGET SOURCES... FOLDER folder): another board
# library of the board library's name (libmarlek.so) in a folder of its own,
# which takes the simulated library's place for a program when that folder
# comes first on LD_LIBRARY_PATH. It exports the board library's functions alone.
function(marlek_stand_in_library target)
  cmake_parse_arguments(PARSE_ARGV 1 LIBRARY "" "FOLDER" "SOURCES")
  add_library(${target} SHARED ${LIBRARY_SOURCES})
  target_link_libraries(${target} PRIVATE marlek_api)
  target_compile_definitions(${target} PRIVATE MARLEK_BUILDING_LIBRARY)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME marlek
    LIBRARY_OUTPUT_DIRECTORY ${LIBRARY_FOLDER}
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
endfunction()
