#!/usr/bin/env bash
# Installs what is missing, builds, and starts the gateway's dialog under Wine.
# Uses the current X display; without one it starts a virtual display (Xvfb) and says so.
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo -E "$0" "$@"
fi
source "$(dirname "$0")/env.sh"
"$VELMORA_ROOT/tools/setup.sh" || exit 1
velmora_build || exit 1
exe=$VELMORA_CROSS/Velmora.exe
if [ ! -f "$exe" ]; then
    velmora_say "Velmora.exe is not built yet: the operator's dialog does not exist in this version."
    exit 1
fi
velmora_wine_prefix "$WINEPREFIX"
if [ -z "${DISPLAY:-}" ]; then
    velmora_display
    velmora_say "no X display set: running on the virtual display $DISPLAY (invisible)"
fi
velmora_say "settings: $WINEPREFIX/drive_c/ProgramData/CORVANE/Tools/Velmora.ini"
# A virtual display started here ends with the program.
trap '[ -n "${VELMORA_XVFB_PID:-}" ] && kill "$VELMORA_XVFB_PID" 2>/dev/null' EXIT
wine "$exe"
