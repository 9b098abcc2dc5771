# Sourced: builds the client project against an installed kolvex, once
# through its CMake package and once through pkg-config, and runs it.
# build_client WORK_DIR [PREFIX]: without PREFIX, the system's (packages).
build_client() {
  local work=$1 prefix=${2:-} mode
  local run=(env -u LD_LIBRARY_PATH)
  [ -n "$prefix" ] && run=(env LD_LIBRARY_PATH="$prefix/lib")
  for mode in OFF ON; do
    cmake -S "$(dirname "${BASH_SOURCE[0]}")/client" -B "$work/client-$mode" \
      -DUSE_PKG_CONFIG=$mode ${prefix:+"-DCMAKE_PREFIX_PATH=$prefix"} >/dev/null
    cmake --build "$work/client-$mode" >/dev/null
    "${run[@]}" PATH=/nonexistent "$work/client-$mode/kolvex_client" 2>/dev/null |
      tail -n 1 | grep -qx 'client: ok' ||
      { echo "client built with USE_PKG_CONFIG=$mode failed"; return 1; }
    echo "client (pkg-config $mode): ok"
  done
}
