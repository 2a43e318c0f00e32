#!/usr/bin/env bash
# Runs every Windows test suite (tests/wine/run_*.sh) under Wine.
# Usage: tests/wine/run.sh WIN64_BUILD_DIR [WIN32_BUILD_DIR]
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
failed=0; ran=0
for suite in "$here"/run_*.sh; do
  [ -f "$suite" ] || continue
  echo "--- $(basename "$suite")"
  if bash "$suite" "$@"; then :; else failed=$((failed + 1)); fi
  ran=$((ran + 1))
done
echo "Wine suites: $((ran - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
