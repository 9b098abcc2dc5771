# The part both mingw-w64 toolchain files share (posix threads); they set
# CMAKE_SYSTEM_PROCESSOR and _kolvex_mingw (the target triple) first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${_kolvex_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kolvex_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_kolvex_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kolvex_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C, C++ and thread runtimes (and, on x86, the exception unwinder,
# which i686 mingw would otherwise take from libgcc_s_dw2-1.dll): the
# programs then import only DLLs that every Windows installation has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(KOLVEX_WINE NAMES wine wine64)
if(KOLVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOLVEX_WINE})
endif()
