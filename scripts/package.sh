#!/usr/bin/env bash
# Builds the Debian package quelt-flasher_VERSION_ARCH.deb from a Release tree without tests and
# benchmarks, with Debian's hardening flags, and prints its path. Installs what is missing first.
#
#   scripts/package.sh [BUILD_TREE]      (default build/package)
#
# Install it with: sudo apt install ./build/package/quelt-flasher_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tree=${1:-build/package}
scripts/setup-debian.sh

# Debian's compiler and linker flags: fortified functions, stack protector, read-only relocations.
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS

cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DQUELT_BUILD_BENCH=OFF -DQUELT_BUILD_FUZZ=OFF -DQUELT_WERROR=ON >/dev/null
cmake --build "$tree" -j "$(nproc)"
rm -f "$tree"/quelt-flasher_*.deb
(cd "$tree" && cpack -G DEB >/dev/null)
ls "$tree"/quelt-flasher_*.deb
