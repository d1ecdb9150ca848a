#!/usr/bin/env bash
# A longer fuzz run: builds the fuzz side, then runs each fuzz program in
# turn for the given seconds (default 300), starting from its seeds
# (fuzz/corpus/<program>/) and what earlier runs found (build/fuzz/corpus/).
# An input that fails is kept in build/fuzz/artifacts/. Once the fault is
# fixed, add it to the program's seeds (fuzz/corpus/<program>/, under a name
# that says what it holds) and, as a plain test, to the test file of the part
# it found the fault in, beside the tests earlier findings left there:
#   compare_fuzzer      tests/engine/compare_test.cpp
#   entry_text_fuzzer   tests/engine/entry_text_test.cpp
#   read_branch_fuzzer  tests/engine/reg_stuff_test.cpp (a snapshot's bytes:
#                       tests/engine/snapshot_test.cpp)
#   cached_walk_fuzzer  tests/engine/monitor_cache_test.cpp
set -euo pipefail
source "$(dirname "$0")/env.sh"
seconds="${1:-300}"
"$(dirname "$0")/setup.sh"
"$(dirname "$0")/build.sh" fuzz
dir="$KM_BUILD/fuzz"
symbolizer="$(command -v llvm-symbolizer-16 || command -v llvm-symbolizer || true)"
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"

passed=0; failed=0
for program in $(cd "$dir" && ctest -N | sed -nE 's/^ *Test +#[0-9]+: +//p'); do
  log="$dir/$program.log"
  mkdir -p "$dir/corpus/$program" "$dir/artifacts"
  echo "$program: $seconds s (log: $log)"
  if "$dir/fuzz/$program" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
       -artifact_prefix="$dir/artifacts/$program-" \
       "$dir/corpus/$program" "$KM_ROOT/fuzz/corpus/$program" >"$log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    grep -E "property failed|ERROR: |SUMMARY: |Test unit written" "$log" || tail -5 "$log"
  fi
  grep -E "^Done |stat::(average_exec_per_sec|new_units_added)" "$log" | sed 's/^/  /'
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
