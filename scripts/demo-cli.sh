#!/usr/bin/env bash
# The command line at work on a fresh Debian 12 machine: installs what is missing, builds
# quelt-flasher-cli and the sample images, then checks a sample, identifies the emulated chip,
# writes the sample with verification and verifies it again in a new process. The chip is the
# built-in emulator with its flash in build/demo/chip.bin, so no adapter is needed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup-debian.sh

cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_BUILD_APP=OFF \
  -DQUELT_BUILD_BENCH=OFF >/dev/null
cmake --build build/demo -j2 --target quelt-flasher-cli quelt-samples

cli=build/demo/cli/quelt-flasher-cli
sample=build/demo/samples/demo-2m.qlz
chip=(--adapter "sim:large,flash=build/demo/chip.bin")

run() {
  printf '\n$ %s\n' "$*"
  "$@"
}
run "$cli" info "$sample"
run "$cli" "${chip[@]}" identify
run "$cli" "${chip[@]}" write "$sample" --verify
run "$cli" "${chip[@]}" verify "$sample"
