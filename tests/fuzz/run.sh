#!/usr/bin/env bash
# Runs every libFuzzer target (bin/fuzz_*) of a fuzz build for a fixed time each.
# Seeds come from tests/fuzz/corpus/<target>/ when present; new inputs go to a scratch copy.
# Usage: tests/fuzz/run.sh BUILD_DIR SECONDS
set -uo pipefail
build=${1:?build dir}; seconds=${2:-30}
here=$(dirname "$(readlink -f "$0")")
scratch="$build/fuzz-corpus"
failed=0; ran=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$scratch/$name"
  [ -d "$here/corpus/$name" ] && cp -n "$here/corpus/$name"/* "$scratch/$name"/ 2>/dev/null
  log="$build/$name.log"
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/$name-" \
       "$scratch/$name" >"$log" 2>&1; then
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    echo "fuzz $name: ok, ${execs:-?} executions in ${seconds} s"
  else
    echo "fuzz $name: FAILED (see $log)"; tail -n 30 "$log"; failed=$((failed + 1))
  fi
  ran=$((ran + 1))
done
echo "$((ran - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
