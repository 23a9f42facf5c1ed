# Every compile and link option of the project, in one place: warnings, the
# sanitizers, and the flags of the programs and of the libraries.

add_compile_options(-Wall -Wextra -Wpedantic -Wconversion -Wshadow)
if(MARLEK_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()
if(MARLEK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Debian's hardening flags (Linux): a protected stack, checked string and
# memory functions where the compiler optimises, and every symbol bound at start
# with the relocations read-only after it, so that a board library that lacks
# a function stops the program before its first prompt. The caller's flags
# (CFLAGS, CXXFLAGS and LDFLAGS, or the CMAKE_<LANG>_FLAGS they set) win: each
# is added only where they say nothing of it, so a packager's
# -D_FORTIFY_SOURCE=3 or -fstack-protector-all is neither redefined nor undone.
# Object files and debug information name the source and build folders as '.'
# and 'build' (unless the caller maps them), so that two builds of one commit
# give the same programs wherever they are built.
string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
foreach(language C CXX)
  set(caller " ${CMAKE_${language}_FLAGS} ${CMAKE_${language}_FLAGS_${build_type}} ")
  set(only "$<COMPILE_LANGUAGE:${language}>")
  if(NOT caller MATCHES " -f(file|debug)-prefix-map=")
    # The build folder last, as the last map that matches is taken: it may lie
    # inside the source folder.
    add_compile_options($<${only}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>
                        $<${only}:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>)
  endif()
  if(NOT WIN32)
    if(NOT caller MATCHES " -f(no-)?stack-protector")
      add_compile_options($<${only}:-fstack-protector-strong>)
    endif()
    if(NOT caller MATCHES "[ ,]-[DU] ?_FORTIFY_SOURCE")
      add_compile_definitions($<$<AND:${only},$<NOT:$<CONFIG:Debug>>>:_FORTIFY_SOURCE=2>)
    endif()
  endif()
endforeach()
set(caller " ${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS} ")
if(WIN32)
  # The .exe and .dll headers carry no link time.
  if(NOT caller MATCHES "insert-timestamp")
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
else()
  if(NOT caller MATCHES "relro")
    add_link_options(-Wl,-z,relro)
  endif()
  if(NOT caller MATCHES "-z[ ,]*(-Wl,)?(now|lazy)")
    add_link_options(-Wl,-z,now)
  endif()
endif()

# The programs' own code (the four programs, and the console and digital I/O
# libraries built into them) needs nothing of the C++ runtime: no exceptions,
# no RTTI, and, as every program runs on one thread, no guards around
# function-local statics. Linked only to the libraries whose symbols it uses, a
# program then loads the C library and the board library alone. The simulated
# board library, its tool and the tests keep the C++ runtime.
set(MARLEK_PROGRAM_COMPILE_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics)
set(MARLEK_PROGRAM_LINK_OPTIONS)
if(NOT WIN32)
  list(APPEND MARLEK_PROGRAM_LINK_OPTIONS -Wl,--as-needed)
endif()

# marlek_program_code(TARGET): the options above for a program or a library of
# program code. A program in C (the plain-C baselines of bench/) takes the link
# options, so that it differs from the programs only in its code.
function(marlek_program_code target)
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${MARLEK_PROGRAM_COMPILE_OPTIONS}>")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE ${MARLEK_PROGRAM_LINK_OPTIONS})
  endif()
endfunction()
