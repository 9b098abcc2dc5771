# Cross build of the Windows collector for 32-bit (x86) Windows with
# mingw-w64, tests run under 32-bit wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(_kolvex_mingw i686-w64-mingw32)
set(_kolvex_wine_loaders wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
