#!/usr/bin/env bash
# Removes what kur.sh installed; the tool's own folder stays untouched.
set -eu
tool_id="z47-linux-monitor"
entry="${XDG_DATA_HOME:-$HOME/.local/share}/applications/$tool_id.desktop"
rm -f "$entry"
echo "Z47 Sistem Monitörü (Monitor) kaldırıldı."
