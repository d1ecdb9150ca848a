#!/usr/bin/env bash
# Installs what is missing, builds every side and runs every test: the
# native tests (sanitizers), the Windows tests under Wine, and a bounded
# run of each fuzz program.
set -uo pipefail
source "$(dirname "$0")/env.sh"
source "$(dirname "$0")/xvfb.sh"
# Every way out ends with the summary line.
fail_early() { echo "$1"; echo "0 passed, 1 failed"; exit 1; }
"$(dirname "$0")/setup.sh" || fail_early "Set-up failed."
"$(dirname "$0")/build.sh" native || fail_early "The native build failed."
"$(dirname "$0")/build.sh" windows || fail_early "The Windows build failed."
"$(dirname "$0")/build.sh" fuzz || fail_early "The fuzz build failed."

km_start_display || fail_early "No display: Xvfb did not start."
server_log="$KM_BUILD/wineserver.log"
# A persistent server with Wine's services started here, writing to a log:
# started by the first test instead, they would inherit ctest's pipe and
# ctest would wait for them.
/usr/lib/wine/wineserver -p >"$server_log" 2>&1 || true
"$KM_WINE" wineboot </dev/null >>"$server_log" 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1; km_stop_display' EXIT

# Counted per test case from each program's XML report; a program that
# left no report (it crashed or hung) counts as one failure.
passed=0; failed=0
for side in native windows; do
  dir="$KM_BUILD/$side"
  rm -f "$dir"/tests/*_tests.xml
  (cd "$dir" && ctest --output-on-failure --timeout 600 "$@") 2>&1 | tee "$dir/ctest.log"
  for name in $(cd "$dir" && ctest -N | sed -nE 's/^ *Test +#[0-9]+: +//p'); do
    xml="$dir/tests/$name.xml"
    if [ -f "$xml" ]; then
      read -r t f e < <(sed -nE 's/^<testsuites tests="([0-9]+)" failures="([0-9]+)" disabled="[0-9]+" errors="([0-9]+)".*/\1 \2 \3/p' "$xml" | head -1)
      passed=$((passed + ${t:-0} - ${f:-0} - ${e:-0})); failed=$((failed + ${f:-0} + ${e:-0}))
    else
      echo "$side/$name: no test report (crashed or timed out)"; failed=$((failed + 1))
    fi
  done
done

# Each fuzz program is one case, counted from ctest's JUnit report: it
# passes when its bounded run ends with no failed property, no sanitizer
# report and no crash.
dir="$KM_BUILD/fuzz"
rm -f "$dir/fuzz_tests.xml"
(cd "$dir" && ctest --output-on-failure --timeout 300 --output-junit fuzz_tests.xml "$@") 2>&1 | tee "$dir/ctest.log"
if [ -f "$dir/fuzz_tests.xml" ]; then
  # The suite's totals come first, before any test case.
  t=$(grep -m1 -oE '\btests="[0-9]+"' "$dir/fuzz_tests.xml" | tr -dc 0-9)
  f=$(grep -m1 -oE '\bfailures="[0-9]+"' "$dir/fuzz_tests.xml" | tr -dc 0-9)
  passed=$((passed + ${t:-0} - ${f:-0})); failed=$((failed + ${f:-0}))
  [ "${f:-0}" -eq 0 ] || echo "fuzz: the failing inputs are kept in $dir/artifacts/"
else
  echo "fuzz: no test report"; failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
