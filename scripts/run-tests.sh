#!/usr/bin/env bash
# Runs every test against the built tree (make test builds first).
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
[ $# -gt 0 ] || set -- tests
exec /usr/bin/python3 -m pytest -p no:cacheprovider "$@"
