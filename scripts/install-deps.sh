#!/usr/bin/env bash
# Installs, from Debian's archive, everything the centre needs to build, run and be tested.
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

packages=(
  # build
  cmake make g++ pkg-config python3-dev pybind11-dev
  # the centre's UI and its tests
  python3-pyqt5 python3-pytest python3-pytestqt
  xvfb xauth x11-utils fonts-roboto fonts-noto-color-emoji
  # the Windows launcher: cross compiler, wine to run it, icon tools
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 icoutils librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
