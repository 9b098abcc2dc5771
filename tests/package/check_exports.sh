#!/usr/bin/env bash
# The dynamic symbols of libkolvex: exactly the client interface, the C++
# one under its C++ names and the C one (kolvex_c.h) under its plain names,
# and nothing of the internals.
set -euo pipefail
lib=$1
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
expected=$(sort <<'EOF_SYMBOLS'
_Z10executeCMDPKcPc
_Z12GetCpuSerialPc
_Z13GetBIOSSerialPc
_Z15GetLinuxSysTimePc
_Z15getLocalMacInfoPcS_S_S_
_Z16getIdeTypeDiskIdPc
_Z16open_scsi_devicePKc
_Z18GetFormatTickCountR9timeStick
_Z19GetDiskSerialBylshwPc
_Z19ORVIK_GetSystemInfoPcRi
_Z21GetScsiTypeHardDiskIDPc
_Z23ORVIK_GetRealSystemInfoPcRi
_Z25GetDeviceNameAndOsVersionPcS_
_Z25ORVIK_GetKolvexApiVersionv
_Z28ORVIK_GetExplainedSystemInfoPcRiS_i
_Z30ORVIK_GetSystemInfoUnAesEncodePcRi
_Z31scsi_inquiry_unit_serial_numberiPc
_Z7scsi_ioiPhhiS_PjS_S0_
g_sys
kolvex_collect
kolvex_collect_explained
kolvex_version
EOF_SYMBOLS
)
status=0
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the interface:"
  diff <(echo "$expected") <(echo "$actual") || true
  status=1
fi
if grep -q '^ORVIK_' <<<"$actual"; then
  echo "a bare-name ORVIK_ symbol is exported"
  status=1
fi
if grep -v '^kolvex_' <<<"$actual" | grep -q 'kolvex'; then
  echo "internal kolvex:: symbols are exported"
  status=1
fi
soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libkolvex.so.1" ] || { echo "SONAME is '$soname'"; status=1; }
[ $status -eq 0 ] && echo "libkolvex exports the $(wc -l <<<"$actual") interface symbols"
exit $status
