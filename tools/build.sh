#!/usr/bin/env bash
# Builds one side: "windows" (cross, under build/windows) or "native".
set -euo pipefail
source "$(dirname "$0")/env.sh"
side="$1"; shift
dir="$KM_BUILD/$side"
args=(-S "$KM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
[ "$side" = windows ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$KM_ROOT/cmake/mingw-w64-x86_64.cmake")
[ -f "$dir/CMakeCache.txt" ] || cmake "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "$@"
