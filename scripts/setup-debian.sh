#!/usr/bin/env bash
# Installs what the project needs on Debian 12. Installs only what is missing; when not run as
# root it goes through sudo, and without sudo it assumes the packages are there.
set -euo pipefail

if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null; then
    exec sudo "$0" "$@"
  fi
  echo "Not root and no sudo: assuming the packages of $0 are installed." >&2
  exit 0
fi

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy cppcheck
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth x11-apps xdotool
  fonts-liberation2 fonts-dejavu-extra openbox imagemagick
  libcli11-dev libssl-dev libftdi1-dev pkgconf
  g++-mingw-w64-i686
  python3 git
  dpkg-dev lintian desktop-file-utils appstream help2man bash-completion man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
