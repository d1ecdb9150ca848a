#!/usr/bin/env bash
# Installs what is missing, builds Kestrelmark and starts it under Wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"
source "$(dirname "$0")/xvfb.sh"
"$(dirname "$0")/setup.sh"
"$(dirname "$0")/build.sh" windows --target Kestrelmark
km_start_display
[ -n "$KM_XVFB_PID" ] && echo "No display was set: running on Xvfb $DISPLAY (screenshot: import -display $DISPLAY -window root shot.png)"
"$KM_WINE" "$KM_BUILD/windows/Kestrelmark.exe" </dev/null
km_stop_display
