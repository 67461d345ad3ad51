#!/usr/bin/env bash
# The command-line flasher on the chip emulator, on a fresh Debian 12 machine: installs what is
# missing (through sudo when not run as root), builds quelt-flasher-cli and the sample images,
# then checks a sample, identifies the emulated "Quelt JQ Ombrix", writes the sample with
# verification and verifies it again in a new process. The chip's flash is a file that survives
# the run, so a later `verify` finds the image still there.
#
# Environment: QUELT_DEMO_RATE (adapter bytes per second, default 20000000, so the progress can be
# watched; 0 runs at full speed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup-debian.sh

build=build/demo-cli
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_BUILD_APP=OFF \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target quelt-flasher-cli quelt-samples

cli="$root/$build/cli/quelt-flasher-cli"
sample="$build/samples/demo-2m.qlz"
chip="sim:large,flash=$build/chip.bin,rate=${QUELT_DEMO_RATE:-20000000}"

run() {
  printf '\n$ quelt-flasher-cli %s\n' "$*"
  "$cli" "$@"
}
run info "$sample"
run --adapter "$chip" identify
run --adapter "$chip" write "$sample" --verify
run --adapter "$chip" verify "$sample"
