#!/usr/bin/env bash
# Builds one side: "windows" (cross, under build/windows), "native", or
# "fuzz" (the libFuzzer programs, with clang).
set -euo pipefail
source "$(dirname "$0")/env.sh"
side="$1"; shift
dir="$KM_BUILD/$side"
args=(-S "$KM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$side" in
  windows) args+=(-DCMAKE_TOOLCHAIN_FILE="$KM_ROOT/cmake/mingw-w64-x86_64.cmake") ;;
  fuzz) args+=(-DKM_FUZZ=ON -DCMAKE_C_COMPILER="$KM_FUZZ_CC" -DCMAKE_CXX_COMPILER="$KM_FUZZ_CXX") ;;
esac
[ -f "$dir/CMakeCache.txt" ] || cmake "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "$@"
