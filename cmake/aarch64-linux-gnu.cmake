# Cross build for 64-bit ARM Linux (arm64) with Debian's cross compilers
# (g++-aarch64-linux-gnu), against the cross C library in /usr/aarch64-linux-gnu
# (libc6-dev-arm64-cross).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER /usr/bin/${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER /usr/bin/${CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests run the programs under QEMU's user-mode emulation (qemu-user),
# which finds the arm64 loader and C library under the cross C library's root.
# The root is given in QEMU's environment rather than as its -L option, so
# that the command has no word that a test's argument parser takes for one of
# its own options. The command is kept in the cache, where
# tests/packaging/check_packages.py finds it.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env QEMU_LD_PREFIX=${CMAKE_FIND_ROOT_PATH} /usr/bin/qemu-aarch64
    CACHE STRING "The command that runs the arm64 programs here")
