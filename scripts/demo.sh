#!/usr/bin/env bash
# Opens the flasher window on the chip emulator, on a fresh Debian 12 machine: installs what is
# missing (through sudo when not run as root), builds the window and the sample images, and runs
# the window against an emulated "Quelt JQ Ombrix" whose flash is a file that survives the run.
# The emulator is paced so that the erase and the progress bar can be watched and Cancel pressed.
#
#   scripts/demo.sh            load build/demo/samples/demo-256k.qlz with File > Load Bios...,
#                              then press Write, and Verify afterwards
# Environment: QUELT_DEMO_RATE (adapter bytes per second, default 600000),
#              QUELT_DEMO_ERASE_POLLS (status reads per block erase, default 500).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup-debian.sh

build=build/demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target quelt-flasher quelt-samples

flash="$root/$build/demo-flash.bin"
rate=${QUELT_DEMO_RATE:-600000}
polls=${QUELT_DEMO_ERASE_POLLS:-500}
echo "Sample images: $root/$build/samples/"
ls "$build/samples"
echo "Emulated chip: Quelt JQ Ombrix, flash kept in $flash"

export QUELT_ADAPTER="sim:large,flash=$flash,rate=$rate,erase-polls=$polls"
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display to open the window on: run this from a desktop session." >&2
  exit 1
fi
cd "$build/samples"
exec "$root/$build/app/quelt-flasher"
