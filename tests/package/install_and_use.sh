#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds a tiny host against the
# installed package and runs it. Arguments: build dir, scratch dir, the
# plug-in's and the host program's file names; for a cross-build also the
# toolchain file, the target prefixes ('|' between them) and the program that
# runs the target's programs (wine).
set -euo pipefail
build=$1
scratch=$2
plugin=${3:-libni_usb_daq.so}
host_program=${4:-ni-usb-daq-host}
toolchain=${5:-}
target_prefixes=${6:-}
run=${7:-}
rm -rf "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
test -f "$scratch/prefix/include/ni_usb_daq/IDeviceStub.h"
# Only headers a host can use without linking this tree: no manifest loader.
test ! -e "$scratch/prefix/include/ni_usb_daq/DeviceManifest.h"
test -f "$scratch/prefix/bin/$host_program"
device_dir=$(echo "$scratch"/prefix/lib*/ni_usb_daq/devices/ni-usb-daq)
test -f "$device_dir/$plugin"
test -f "$device_dir/device-manifest.json"
test -f "$scratch/prefix/share/ni_usb_daq/devices/ni-usb-daq/device-manifest.json"
cross=()
if [ -n "$toolchain" ]; then
  cross=(--toolchain "$toolchain" "-DCMAKE_FIND_ROOT_PATH=$scratch/prefix;${target_prefixes//|/;}")
fi
cmake -S "$(dirname "$0")/host" -B "$scratch/host-build" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
      -DCMAKE_BUILD_TYPE=Release "${cross[@]}" >/dev/null
cmake --build "$scratch/host-build" >/dev/null
tiny_host=$(echo "$scratch"/host-build/tiny_host*)
NIDAQMX_SIM_TIME_SCALE=0 $run "$scratch/prefix/bin/$host_program" info >/dev/null
NIDAQMX_SIM_TIME_SCALE=0 $run "$tiny_host"
if [ -z "$run" ]; then
  # The installed program, run from a folder outside the source tree, gives the
  # installed manifest's capabilities and says where they came from.
  # (A temporary folder: none of the plug-in's relative search folders reaches
  # the source tree's manifest from there.)
  outside=$(mktemp -d)
  trap 'rm -rf "$outside"' EXIT
  (
    cd "$outside"
    env -u KRA_DEVICE_MANIFEST_DIR "$scratch/prefix/bin/ni-usb-daq-host" caps \
      >"$scratch/caps.json" 2>"$scratch/caps.err"
  )
  grep -q '"analog_input"' "$scratch/caps.json"
  grep -q "share/ni_usb_daq/devices/ni-usb-daq/device-manifest.json" "$scratch/caps.err"
  # A reader that goes away ends a stream quietly, with the status a shell gives
  # a program that SIGPIPE ended.
  set +o pipefail
  NIDAQMX_SIM_TIME_SCALE=0 "$scratch/prefix/bin/ni-usb-daq-host" -q stream samples_per_channel=1000 \
    2>"$scratch/pipe.err" | head -c 1 >/dev/null
  status=${PIPESTATUS[0]}
  set -o pipefail
  test "$status" -eq 141
  ! grep -q "ni-usb-daq-host:" "$scratch/pipe.err"
fi
