#!/bin/sh
# Sourced first by each Wine suite, with the suite's own arguments
# [WIN64_BUILD_DIR [WIN32_BUILD_DIR]] and SUITE set to its name. Gives HERE (tests/wine), ROOT,
# BUILD_DIR (exported, for wine_env.sh), WIN32_DIR (/nonexistent when there is none), SIM,
# need_sim, and the tally: ok NAME, fail NAME, check NAME COMMAND..., passed and failed.
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD_DIR=$(cd "${1:-$ROOT/build/win64}" && pwd) || exit 2
WIN32_DIR=$(cd "${2:-$ROOT/build/win32}" 2>/dev/null && pwd) || WIN32_DIR=/nonexistent
export BUILD_DIR
SIM=${QV_SIM:-$ROOT/build/linux/bin/qvlink-sim}

# need_sim: ends the suite unless the Linux build has made the simulator.
need_sim() {
  [ -x "$SIM" ] || { echo "$SUITE: $SIM not built (the Linux build makes it)" >&2; exit 2; }
}

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
check() { _name=$1; shift; if "$@"; then ok "$_name"; else fail "$_name"; fi; }
