#!/usr/bin/env bash
# Runs every test against the built tree (make test builds first).  Ends with pytest's exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
# Every temporary file of the run, pytest's folders among them, stays in the build folder.
mkdir -p build/tmp
TMPDIR="$PWD/build/tmp"
export TMPDIR
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  # Qt's runtime folder for the run: private (mktemp makes it with mode 700), in the build
  # folder, removed when the run ends.
  XDG_RUNTIME_DIR="$(mktemp -d "$PWD/build/xdg-runtime-XXXXXX")"
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
fi
[ $# -gt 0 ] || set -- tests
/usr/bin/python3 -m pytest -p no:cacheprovider "$@"
