#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix (ctest's
# emulator for the cross build).
source "$(dirname "$0")/env.sh"
exec "$KM_WINE" "$@" </dev/null
