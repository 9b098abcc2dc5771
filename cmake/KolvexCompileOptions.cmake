# Warnings and sanitizers for every target of the project.
add_library(kolvex_options INTERFACE)
target_compile_options(kolvex_options INTERFACE -Wall -Wextra)

# The test command builds with every warning an error (and says so in the
# environment, for the builds its stages and tests configure); a user's
# build only warns.
if("$ENV{KOLVEX_WARNINGS_AS_ERRORS}")
  set(_kolvex_werror_default ON)
else()
  set(_kolvex_werror_default OFF)
endif()
option(KOLVEX_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ${_kolvex_werror_default})
if(KOLVEX_WARNINGS_AS_ERRORS)
  target_compile_options(kolvex_options INTERFACE -Werror)
endif()

if(KOLVEX_SANITIZE)
  list(JOIN KOLVEX_SANITIZE "," _kolvex_san)
  set(_kolvex_san_flags -fsanitize=${_kolvex_san} -fno-omit-frame-pointer)
  if(_kolvex_san MATCHES "undefined")
    list(APPEND _kolvex_san_flags -fno-sanitize-recover=undefined)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 under the sanitizers reports std::function inside libstdc++'s
    # <regex> as maybe uninitialized; the plain build stays fully checked.
    list(APPEND _kolvex_san_flags -Wno-maybe-uninitialized)
  endif()
  target_compile_options(kolvex_options INTERFACE ${_kolvex_san_flags})
  target_link_options(kolvex_options INTERFACE -fsanitize=${_kolvex_san})
endif()
