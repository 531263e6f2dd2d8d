#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, starting from the committed seed
# corpus plus whatever an earlier run of the same build directory found.
# Prints the executions of each target; exits non-zero when any target found
# a crash, a leak, a timeout or a broken invariant (its input is kept in the
# build directory as <target>-crash-*, -leak-*, -timeout-* or -oom-*).
#   usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
set -uo pipefail
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
passed=0
failed=0
for target in json yaml shrink tokens; do
  corpus=$build/corpus/$target
  log=$build/$target.log
  mkdir -p "$corpus"
  if "$build/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$target-" \
      "$corpus" "$here/corpus/$target" >"$log" 2>&1; then
    passed=$((passed + 1))
    verdict=clean
  else
    failed=$((failed + 1))
    verdict=FAILED
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "fuzz $target: ${runs:-?} executions in ${seconds} s, $verdict"
  if [ "$verdict" = FAILED ]; then tail -n 40 "$log"; fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
