#!/usr/bin/env bash
# Installs, from Debian's archive, what one of the project's commands needs:
#
#   install-deps.sh run    build the centre for Linux and open it (make run)
#   install-deps.sh test   the above, plus the Windows cross build, wine and the test tools
#                          (make test, make windows, make bench)
#   install-deps.sh fresh-root   what scripts/fresh-debian-root.sh needs (CI)
#
# Packages are installed without their recommendations, so every package a step needs is
# named here.  Safe to run again: apt-get is only called when a package is missing.
set -euo pipefail

run_packages=(
  # build
  cmake make g++ pkg-config python3-dev pybind11-dev
  # the sample tools' icons, rendered from SVG at build time
  librsvg2-bin
  # the centre's UI, the fonts its window is designed with, and Qt's Turkish texts (the
  # Windows package ships the same file)
  python3-pyqt5 fonts-roboto fonts-noto-color-emoji qttranslations5-l10n
  # a display where there is none: xvfb-run needs xauth
  xvfb xauth
  # make deb: dpkg-shlibdeps works out the package's library dependencies, and CPack finds
  # the files to scan with file(1), which minimal systems and containers lack
  dpkg-dev file
)

test_packages=(
  "${run_packages[@]}"
  # the module's tests
  python3-pytest python3-pytestqt
  # the Windows cross build: only the win32 thread model the build uses
  # (cmake/mingw-w64-x86_64.cmake), its binutils, gendef, and the icon tools
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-tools icoutils
  # wine to run the Windows programs under Xvfb.  Wine loads these X libraries with dlopen
  # and takes its fonts from fonts-wine: all only recommended by libwine.
  wine wine64 fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3
  libxxf86vm1 libgl1
  # xwininfo and xprop, to find the windows the tests photograph; a window manager and the
  # X resources (xrdb) of a desktop, for the window on screens people have
  x11-utils x11-xserver-utils openbox
  # a screen reader's view of the window: a session bus and the accessibility bus (AT-SPI)
  dbus-daemon dbus-bin at-spi2-core python3-pyatspi
  # the Debian package's checks; gio starts menu entries as a desktop does
  lintian desktop-file-utils libglib2.0-bin
  # makensis, for the Windows setup program (scripts/windows_setup.nsi)
  nsis
)

# A new Debian root from Debian's archive, for the README's commands on each release.
fresh_root_packages=(debootstrap)

case "${1:-}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  fresh-root) packages=("${fresh_root_packages[@]}") ;;
  *) echo "usage: $0 run|test|fresh-root" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "z47: ${#missing[@]} packages are missing and sudo is not installed: run '$(realpath "$0") $1' as root (or install sudo), then try again." >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
