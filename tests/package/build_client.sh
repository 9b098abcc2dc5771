# Sourced: builds the client project (a C++ and a C99 client) against an
# installed kolvex, once through its CMake package and once through
# pkg-config, and runs both.
# build_client WORK_DIR [PREFIX]: without PREFIX, the system's (packages).
# After cross_build_args, with the cross toolchain.

# cross_build_args BUILD: for a cross-built tree, the settings it was
# configured with that another build of the same target needs
# (KOLVEX_CROSS_ARGS), and the target's Debian architecture and multiarch
# name (KOLVEX_DEB_ARCH, KOLVEX_MULTIARCH); a native tree leaves them empty.
cross_build_args() {
  local build=$1 var value processor
  KOLVEX_CROSS_ARGS=() KOLVEX_DEB_ARCH="" KOLVEX_MULTIARCH=""
  grep -q '^CMAKE_TOOLCHAIN_FILE:' "$build/CMakeCache.txt" || return 0
  for var in CMAKE_TOOLCHAIN_FILE KOLVEX_AARCH64_ROOT KOLVEX_DEB_LIBRARY_DIRS; do
    value=$(sed -n "s/^$var:[A-Z]*=//p" "$build/CMakeCache.txt")
    # A toolchain file named relative to the source tree on reconfiguration.
    if [ "$var" = CMAKE_TOOLCHAIN_FILE ] && [ "${value#/}" = "$value" ]; then
      value=$(sed -n 's/^CMAKE_HOME_DIRECTORY:[A-Z]*=//p' "$build/CMakeCache.txt")/$value
    fi
    [ -z "$value" ] || KOLVEX_CROSS_ARGS+=("-D$var=$value")
  done
  processor=$(sed -n 's/^set(CMAKE_SYSTEM_PROCESSOR "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeSystem.cmake |
    head -n 1)
  KOLVEX_DEB_ARCH=$(dpkg-architecture -t "$processor-linux-gnu" -qDEB_HOST_ARCH 2>/dev/null)
  KOLVEX_MULTIARCH=$(dpkg-architecture -t "$processor-linux-gnu" -qDEB_HOST_MULTIARCH 2>/dev/null)
}

build_client() {
  local work=$1 prefix=${2:-} mode
  local run=(env -u LD_LIBRARY_PATH) cross=()
  [ -n "$prefix" ] && run=(env LD_LIBRARY_PATH="$prefix/lib")
  # The client finds kolvex under the prefix, past the toolchain's root.
  [ -n "${KOLVEX_DEB_ARCH:-}" ] &&
    cross=("${KOLVEX_CROSS_ARGS[0]}" ${prefix:+"-DCMAKE_FIND_ROOT_PATH=$prefix"})
  for mode in OFF ON; do
    cmake -S "$(dirname "${BASH_SOURCE[0]}")/client" -B "$work/client-$mode" \
      -DUSE_PKG_CONFIG=$mode ${prefix:+"-DCMAKE_PREFIX_PATH=$prefix"} "${cross[@]}" >/dev/null
    cmake --build "$work/client-$mode" >/dev/null
    "${run[@]}" PATH=/nonexistent "$work/client-$mode/kolvex_client" 2>/dev/null |
      tail -n 1 | grep -qx 'client: ok' ||
      { echo "client built with USE_PKG_CONFIG=$mode failed"; return 1; }
    "${run[@]}" PATH=/nonexistent "$work/client-$mode/kolvex_c_client" | tail -n 1 |
      grep -qx 'c client: ok' || { echo "C client built with USE_PKG_CONFIG=$mode failed"; return 1; }
    echo "client (pkg-config $mode): ok"
  done
}
