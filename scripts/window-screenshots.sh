#!/usr/bin/env bash
# Takes screenshots of the real window under Xvfb and the openbox window manager (title bars and
# captions as a user sees them), driven with xdotool as a user would drive it: idle.png, the
# status line after loading a 2 MiB image (loaded.png), the About box (about.png), a write in
# progress (erasing.png, then writing.png during the programming), the "Success" box
# (success.png) and the window after it (finished.png); title.txt holds the title after the load.
#   scripts/window-screenshots.sh BUILD_TREE OUT_FOLDER
# Needs xvfb-run, openbox, xdotool and imagemagick's import (scripts/setup-debian.sh installs
# them), and the tree's quelt-flasher and samples.
set -euo pipefail
for tool in xvfb-run openbox xdotool import; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: run scripts/setup-debian.sh" >&2
    exit 1
  }
done
if [[ ${1:-} != --inside ]]; then
  build=$(cd "${1:?build tree}" && pwd)
  mkdir -p "${2:?output folder}"
  out=$(cd "$2" && pwd)
  exec xvfb-run -a -s "-screen 0 640x400x24 -dpi 96" "$0" --inside "$build" "$out"
fi
build=$2
out=$3
work=$(mktemp -d)
openbox --sm-disable &
wm=$!
trap 'kill "$wm" 2>/dev/null || true; rm -rf "$work"' EXIT
# The window manager is up once it answers for the desktops.
until xdotool get_desktop >/dev/null 2>&1; do sleep 0.1; done

export XDG_CONFIG_HOME=$work/config
export QUELT_ADAPTER="sim:large,flash=$work/flash.bin,rate=${RATE:-600000},erase-polls=${POLLS:-500}"
cd "$build/samples"
"$build/app/quelt-flasher" &
app=$!
window=$(xdotool search --sync --name '^Quelt Flasher USB')
sleep 1
import -window root "$out/idle.png"

# File > Load Bios..., then a sample's name in the file dialog.
load() {
  xdotool windowactivate --sync "$window" key alt+f
  sleep 0.5
  xdotool key l
  local dialog
  dialog=$(xdotool search --sync --name '^Please select a Quelt JQ Bios file$')
  sleep 0.5
  xdotool windowactivate --sync "$dialog" type "$1"
  xdotool key Return
  sleep 1
}

# The longest status text a load shows.
load demo-2m.qlz
import -window root "$out/loaded.png"

# Help > About, closed with its default button.
xdotool windowactivate --sync "$window" key alt+h
sleep 0.5
xdotool key a
about=$(xdotool search --sync --name '^About Quelt Flasher USB$')
sleep 0.5
import -window root "$out/about.png"
xdotool windowactivate --sync "$about" key Return
sleep 0.5

load demo-256k.qlz
xdotool getwindowname "$window" >"$out/title.txt"

# Write has the focus: press it, and look at the erase and at the programming.
xdotool windowactivate --sync "$window" key space
sleep "${ERASE_SHOT:-1}"
import -window root "$out/erasing.png"
# The bar moves at each 128 KiB written: keep the last shot taken before the "Success" box
# shows, which has the first half of the bar filled.
success_shown() { xdotool search --name '^Success$' >/dev/null 2>&1; }
until success_shown; do
  import -window root "$work/shot.png"
  success_shown || mv "$work/shot.png" "$out/writing.png"
  sleep 1
done

box=$(xdotool search --sync --name '^Success$')
sleep 0.5
import -window root "$out/success.png"
xdotool windowactivate --sync "$box" key Return
sleep 0.5
import -window root "$out/finished.png"
xdotool windowactivate --sync "$window" key Escape
wait "$app"
