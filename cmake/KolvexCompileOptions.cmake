# Warnings and sanitizers for every target of the project.
add_library(kolvex_options INTERFACE)
target_compile_options(kolvex_options INTERFACE -Wall -Wextra)

if(KOLVEX_SANITIZE)
  list(JOIN KOLVEX_SANITIZE "," _kolvex_san)
  set(_kolvex_san_flags -fsanitize=${_kolvex_san} -fno-omit-frame-pointer)
  if(_kolvex_san MATCHES "undefined")
    list(APPEND _kolvex_san_flags -fno-sanitize-recover=undefined)
  endif()
  target_compile_options(kolvex_options INTERFACE ${_kolvex_san_flags})
  target_link_options(kolvex_options INTERFACE -fsanitize=${_kolvex_san})
endif()
