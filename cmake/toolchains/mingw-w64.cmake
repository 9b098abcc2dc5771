# The part both mingw-w64 toolchain files share (posix threads); they set
# CMAKE_SYSTEM_PROCESSOR, _kolvex_mingw (the target triple) and
# _kolvex_wine_loaders (the names of the wine loader for the target's
# programs, preferred first) first.
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

# The loader of the target's own kind, where the distribution keeps it apart
# (Debian's /usr/lib/wine/wine64 and wine), before the one on the search
# path: Debian's wine command starts the 32-bit loader whenever wine32 is
# installed, and a kernel that runs no 32-bit x86 program then starts no x64
# program either.
find_program(KOLVEX_WINE_LOADER NAMES ${_kolvex_wine_loaders}
  PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(KOLVEX_WINE_LOADER NAMES ${_kolvex_wine_loaders})
if(KOLVEX_WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOLVEX_WINE_LOADER})
endif()
