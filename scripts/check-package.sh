#!/usr/bin/env bash
# Checks a built Debian package of the tool: lintian finds no error or warning (those kept are
# explained in packaging/lintian-overrides), the desktop entry and the AppStream metainfo
# validate, both manual pages format without warnings, the package holds what it should, and
# the programs unpacked from it run: the command line on the built-in emulator and on the
# emulator library, the window's --help and --version without a display, the bash completion.
#
#   scripts/check-package.sh PACKAGE.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
version=$(sed -n 's/^project(QueltFlasherUSB VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ -n $version ]] || { echo "no project version in $root/CMakeLists.txt" >&2; exit 1; }

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports and counts a failure
  local what=$1
  shift
  if "$@"; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    ((failures++)) || true
  fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
r=$scratch/root

echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes," \
  "installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

# lintian: no error, no warning (but those overridden with their reasons); information tags
# are shown but pass.
lintian_clean() {
  lintian --fail-on error,warning --info "$deb"
}
check "lintian: no error or warning" lintian_clean

# The Debian fields this package promises.
fields_right() {
  [[ $(dpkg-deb -f "$deb" Package) == quelt-flasher &&
    $(dpkg-deb -f "$deb" Version) == "$version" &&
    $(basename "$deb") == "quelt-flasher_${version}_$(dpkg --print-architecture).deb" ]] &&
    dpkg-deb -f "$deb" Depends | grep -q 'fonts-liberation2' &&
    dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' &&
    dpkg-deb -f "$deb" Depends | grep -q 'libssl3'
}
check "name, version $version, file name, dependencies from the binaries and the font" fields_right

files_present() {
  local f missing=0
  for f in usr/bin/quelt-flasher usr/bin/quelt-flasher-cli usr/lib/quelt-flasher/libquelt-sim.so \
    usr/share/quelt-flasher/samples/{demo-128k,demo-256k,demo-2m}.qlz \
    usr/share/applications/quelt-flasher.desktop \
    usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/quelt-flasher.png \
    usr/share/man/man1/{quelt-flasher,quelt-flasher-cli}.1.gz \
    usr/share/metainfo/org.queltflasher.flasher.metainfo.xml \
    usr/share/bash-completion/completions/quelt-flasher-cli \
    lib/udev/rules.d/60-quelt-flasher-ftdi.rules \
    usr/share/doc/quelt-flasher/{copyright,changelog.gz}; do
    [[ -f $r/$f ]] || { echo "  missing: /$f"; missing=1; }
  done
  return $missing
}
check "the package holds every file it should" files_present

check "desktop-file-validate" desktop-file-validate "$r/usr/share/applications/quelt-flasher.desktop"

appstream_clean() {
  local out
  out=$(appstreamcli validate --no-net --pedantic "$r"/usr/share/metainfo/*.metainfo.xml 2>&1)
  echo "$out"
  ! grep -q '^[EWIP]:' <<<"$out"
}
check "appstreamcli validate --no-net: no issue" appstream_clean

man_clean() {
  local page out status=0
  for page in "$r"/usr/share/man/man1/*.1.gz; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $out ]] || { echo "$page: $out"; status=1; }
  done
  return $status
}
check "man --warnings on both pages" man_clean

# The programs from the unpacked tree. No display for any of them.
run() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@"; }
cli=$r/usr/bin/quelt-flasher-cli
samples=$r/usr/share/quelt-flasher/samples
identify_on_emulator() {
  local out
  out=$(run "$cli" --adapter sim identify) && echo "$out" && grep -qx 'Quelt JQ Ombrix' <<<"$out"
}
check "quelt-flasher-cli --adapter sim identify" identify_on_emulator
info_of_sample() {
  local out
  out=$(run "$cli" info "$samples/demo-128k.qlz") && echo "$out" &&
    grep -q '^Name: *Demo BIOS Small$' <<<"$out" && grep -q '^Quelt JQ: *fits' <<<"$out"
}
check "quelt-flasher-cli info of a shipped sample" info_of_sample
write_through_library() {
  QUELT_SIM="large,flash=$scratch/chip.bin" run "$cli" --quiet \
    --adapter "$r/usr/lib/quelt-flasher/libquelt-sim.so" write "$samples/demo-256k.qlz" --verify
}
check "write --verify of a sample through the shipped emulator library" write_through_library
versions_match() {
  [[ $(run "$cli" --version) == "quelt-flasher-cli $version" &&
    $(run "$r/usr/bin/quelt-flasher" --version) == "quelt-flasher $version" ]]
}
check "--version of both programs is $version" versions_match
check "the window's --help without a display" run "$r/usr/bin/quelt-flasher" --help

check "bash completion" bash "$root/tests/packaging/completion_test.sh" \
  "$r/usr/share/bash-completion/completions/quelt-flasher-cli"

if ((failures)); then
  echo "$failures package check(s) failed"
  exit 1
fi
echo "the package passed every check"
