#!/usr/bin/env bash
# How fast /watch is on a bench branch: the time to its "watching" line
# (it compares with a complete snapshot first), then, for values that
# reg.exe adds one at a time in keys spread over the branch, the delay from
# each reg.exe's end to the value's JSON line in the /out file, and last
# whether it stops with exit code 0 and whole lines.
#
# Usage: bench/watch_latency.sh [--big] [adds]   (registry_bench builds the
# branches; run it once with the same --big first)
set -euo pipefail
source "$(dirname "$0")/../tools/env.sh"
branch='Software\KestrelmarkBench\Branch'
depth=4
if [[ "${1:-}" == --big ]]; then branch='Software\KestrelmarkBench\Big'; depth=5; shift; fi
adds="${1:-10}"
program="$KM_BUILD/windows/Kestrelmark.exe"
public="$WINEPREFIX/drive_c/users/Public"
snapshot='C:\users\Public\km_watch_bench.snp'
out_win='C:\users\Public\km_watch_bench.json'
out="$public/km_watch_bench.json"
mkdir -p "$public"
rm -f "$out" "$public/km_watch_bench.snp" "$public/km_watch_bench.snpx"

/usr/lib/wine/wineserver -k 2>/dev/null || true
run() { taskset -c 1 "$KM_WINE" "$@" </dev/null; }
now() { date +%s.%N; }
# The key of probe i, spread over the branch as the bench's own probes are.
probe_key() {
  local i=$1 path=$branch level
  local digits=($((i % 10)) $((i / 10 % 10)) $((i * 7 % 10)) $((i * 3 % 10)) $((i * 9 % 10)))
  for ((level = 0; level < depth; ++level)); do path+="\\Key ${digits[level]}"; done
  printf '%s' "$path"
}
for ((i = 0; i < adds; ++i)); do
  run reg.exe delete "HKCU\\$(probe_key "$i")" /v "Watch probe $i" /f >/dev/null 2>&1 || true
done

start=$(now)
run "$program" /snapshot /complete /root HKCU /key "$branch" /file "$snapshot"
echo "complete snapshot: $(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }') s"

start=$(now)
taskset -c 1 "$KM_WINE" "$program" /watch /root HKCU /key "$branch" /file "$snapshot" \
  /out "$out_win" </dev/null &
watch_pid=$!
until grep -q '"status":"watching"' "$out" 2>/dev/null; do
  sleep 0.05
  kill -0 "$watch_pid" 2>/dev/null || { echo "/watch ended before watching"; exit 1; }
done
echo "start to the watching line: $(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }') s"

delays=()
for ((i = 0; i < adds; ++i)); do
  sleep "$(awk -v i="$i" 'BEGIN { printf "%.3f", 0.9 + (i * 377 % 600) / 1000 }')"
  run reg.exe add "HKCU\\$(probe_key "$i")" /v "Watch probe $i" /t REG_DWORD /d 1 /f >/dev/null
  added=$(now)
  until grep -q "\"name\":\"Watch probe $i\"" "$out"; do sleep 0.01; done
  delays+=("$(awk -v a="$added" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }')")
done
printf '%s\n' "${delays[@]}" | sort -n | awk -v n="$adds" '
  { d[NR] = $1 } END { printf "reg add to the JSON line: %d adds, median %.3f s, max %.3f s\n", n, d[int(n / 2) + 1], d[n] }'

# As a script would stop it (no window of the program runs beside the bench).
run taskkill.exe /im Kestrelmark.exe >/dev/null 2>&1 || true
code=0
wait "$watch_pid" || code=$?
whole=yes
[[ -z "$(tail -c 1 "$out")" ]] || whole=no
echo "stopped: exit code $code, every line whole: $whole, $(wc -l <"$out") lines"
for ((i = 0; i < adds; ++i)); do
  run reg.exe delete "HKCU\\$(probe_key "$i")" /v "Watch probe $i" /f >/dev/null 2>&1 || true
done
rm -f "$out" "$public/km_watch_bench.snp" "$public/km_watch_bench.snpx"
