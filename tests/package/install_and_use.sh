#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds a tiny host against the
# installed package and runs it. Arguments: build dir, scratch dir.
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
test -f "$scratch/prefix/include/ni_usb_daq/IDeviceStub.h"
test -f "$scratch/prefix/bin/ni-usb-daq-host"
device_dir=$(echo "$scratch"/prefix/lib*/ni_usb_daq/devices/ni-usb-daq)
test -f "$device_dir/libni_usb_daq.so"
test -f "$device_dir/device-manifest.json"
cmake -S "$(dirname "$0")/host" -B "$scratch/host-build" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/host-build" >/dev/null
NIDAQMX_SIM_TIME_SCALE=0 "$scratch/prefix/bin/ni-usb-daq-host" info >/dev/null
NIDAQMX_SIM_TIME_SCALE=0 "$scratch/host-build/tiny_host"
