# Cross build of the Linux collector for 64-bit ARM with Debian's
# g++-aarch64-linux-gnu; CTest runs the tests under qemu-aarch64 (user mode).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_kolvex_triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${_kolvex_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_kolvex_triple}-g++)

# Appended, so that a client project can add the prefix it installed kolvex
# into (-DCMAKE_FIND_ROOT_PATH=PREFIX).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${_kolvex_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Installed under /usr (the Debian packages), libraries go into Debian's
# multiarch folder, as GNUInstallDirs chooses for native builds only.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR lib/${_kolvex_triple} CACHE PATH "Object code libraries")
endif()

# The target's loader and runtimes: by default those of the cross toolchain;
# the ARM stage points this at an unpacked arm64 root that also holds the
# gconv modules. QEMU_LD_PREFIX rather than -L, so that programs the tests
# start (through binfmt_misc) find the same root.
set(KOLVEX_AARCH64_ROOT /usr/${_kolvex_triple} CACHE PATH "Root of the arm64 runtime for qemu-aarch64")
find_program(KOLVEX_QEMU_AARCH64 qemu-aarch64)
if(KOLVEX_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR env;QEMU_LD_PREFIX=${KOLVEX_AARCH64_ROOT};${KOLVEX_QEMU_AARCH64})
endif()
