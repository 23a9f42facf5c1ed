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
