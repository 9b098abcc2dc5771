# Cross build of the Windows collector for x64 Windows with mingw-w64, tests
# run under 64-bit wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_kolvex_mingw x86_64-w64-mingw32)
set(_kolvex_wine_loaders wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
