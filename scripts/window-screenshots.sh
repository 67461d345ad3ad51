#!/usr/bin/env bash
# Takes screenshots of the real window under Xvfb, driven with xdotool as a user would drive it:
# idle, a write in progress (erase, then programming), and the "Success" box.
#   scripts/window-screenshots.sh BUILD_TREE OUT_FOLDER
# Needs xvfb-run, xdotool and imagemagick's import.
set -euo pipefail
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing: apt-get install xvfb xdotool imagemagick" >&2
    exit 1
  }
done
if [[ ${1:-} != --inside ]]; then
  build=$(cd "${1:?build tree}" && pwd)
  mkdir -p "${2:?output folder}"
  out=$(cd "$2" && pwd)
  exec xvfb-run -a -s "-screen 0 640x400x24" "$0" --inside "$build" "$out"
fi
build=$2
out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export XDG_CONFIG_HOME=$work/config
export QUELT_ADAPTER="sim:large,flash=$work/flash.bin,rate=${RATE:-600000},erase-polls=${POLLS:-500}"
cd "$build/samples"
"$build/app/quelt-flasher" &
app=$!
window=$(xdotool search --sync --name '^Quelt Flasher USB')
sleep 1
import -window root "$out/idle.png"

# File > Load Bios..., then the sample's name in the file dialog.
xdotool windowfocus --sync "$window" key alt+f
sleep 0.5
xdotool key l
dialog=$(xdotool search --sync --name '^Please select a Quelt JQ Bios file$')
sleep 0.5
xdotool windowfocus --sync "$dialog" type demo-256k.qlz
xdotool key Return
sleep 1

xdotool getwindowname "$window" >"$out/title.txt"

# Write has the focus: press it, and look at the erase and at the programming.
xdotool windowfocus --sync "$window" key space
sleep "${ERASE_SHOT:-1}"
import -window root "$out/erasing.png"
sleep "${WRITE_SHOT:-14}"
import -window root "$out/writing.png"

box=$(xdotool search --sync --name '^Success$')
sleep 0.5
import -window root "$out/success.png"
xdotool windowfocus --sync "$box" key Return
sleep 0.5
import -window root "$out/finished.png"
xdotool windowfocus --sync "$window" key Escape
wait "$app"
