#!/usr/bin/env bash
# Installs what is missing, builds both sides and runs every test: the
# native tests (sanitizers) and the Windows tests under Wine.
set -uo pipefail
source "$(dirname "$0")/env.sh"
source "$(dirname "$0")/xvfb.sh"
"$(dirname "$0")/setup.sh" || exit 1
"$(dirname "$0")/build.sh" native || { echo "0 passed, 1 failed (native build)"; exit 1; }
"$(dirname "$0")/build.sh" windows || { echo "0 passed, 1 failed (windows build)"; exit 1; }

km_start_display || exit 1
server_log="$KM_BUILD/wineserver.log"
# A persistent server with Wine's services started here, writing to a log:
# started by the first test instead, they would inherit ctest's pipe and
# ctest would wait for them.
/usr/lib/wine/wineserver -p >"$server_log" 2>&1 || true
"$KM_WINE" wineboot </dev/null >>"$server_log" 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1; km_stop_display' EXIT

passed=0; failed=0
for side in native windows; do
  log="$KM_BUILD/$side/ctest.log"
  (cd "$KM_BUILD/$side" && ctest --output-on-failure --timeout 600 "$@") 2>&1 | tee "$log"
  p=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" | grep -cE ' Passed +[0-9.]+ sec' || true)
  f=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" | grep -cvE ' Passed +[0-9.]+ sec' || true)
  passed=$((passed + p)); failed=$((failed + f))
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
