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
# a function stops the program before its first prompt.
if(NOT WIN32)
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro,-z,now)
endif()
