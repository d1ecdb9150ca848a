#!/usr/bin/env bash
# The CPU that monitoring an unchanged branch costs, the program's and the
# registry server's together: runs registry_bench's monitoring phase
# (--monitor-only --monitor-seconds=S) and reads the wineserver's CPU time
# from /proc while it runs. Usage: bench/monitor_cpu.sh [seconds] [bench args]
set -euo pipefail
source "$(dirname "$0")/../tools/env.sh"
seconds="${1:-60}"; shift || true
bench="$KM_BUILD/windows/bench/registry_bench.exe"
/usr/lib/wine/wineserver -k 2>/dev/null || true
out=$(mktemp)
# Monitoring runs 40 s before it is measured: a registry server started
# afresh saves the registry its starting clients wrote to about 30 s
# later, which with a bench branch in the prefix is a second of its CPU
# that has nothing to do with watching.
taskset -c 1 "$KM_WINE" "$bench" --monitor-only --runs=1 --monitor-seconds="$seconds" \
  --monitor-settle=40 "$@" \
  </dev/null >"$out" 2>&1 &
bench_pid=$!
server_cpu() {  # utime + stime of the newest wineserver, in clock ticks
  local pid; pid=$(pgrep -n wineserver)
  awk '{print $14 + $15}' "/proc/$pid/stat"
}
until grep -q "monitoring started" "$out"; do sleep 0.2; kill -0 "$bench_pid" 2>/dev/null || break; done
start=$(server_cpu)
until grep -q "monitoring ended" "$out"; do sleep 0.2; kill -0 "$bench_pid" 2>/dev/null || break; done
end=$(server_cpu)
wait "$bench_pid" || true
grep -E "^monitoring [0-9]" "$out"
ticks=$(getconf CLK_TCK)
awk -v s="$start" -v e="$end" -v t="$ticks" -v w="$seconds" \
  'BEGIN { printf "wineserver CPU %.2f s = %.2f%% of a core\n", (e - s) / t, 100 * (e - s) / t / w }'
rm -f "$out"
