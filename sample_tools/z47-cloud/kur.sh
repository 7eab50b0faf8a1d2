#!/usr/bin/env bash
# Installs the sample tool for the current user: a desktop entry that starts its app.py.
set -eu
tool_id="z47-cloud"
title="Z47 Sevra — Bulut Dosya ve Yedekleme Merkezi"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$apps"
entry="$apps/$tool_id.desktop"
{
  echo "[Desktop Entry]"
  echo "Type=Application"
  echo "Name=$title"
  echo "Exec=python3 \"$here/app.py\""
  echo "Icon=$here/assets/icon_512.png"
  echo "Categories=Utility;"
  echo "Terminal=false"
} > "$entry.tmp"
mv "$entry.tmp" "$entry"
echo "$title kuruldu: $entry"
