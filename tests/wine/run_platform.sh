#!/bin/sh
# Runs the platform contract (tests/integration/platform) under Wine: COM9 of a throw-away
# prefix leads to a pty whose other end (the Linux build's contract program) echoes every byte.
# Usage: run_platform.sh [WIN64_BUILD_DIR [WIN32_BUILD_DIR]]
# Prints the suite's closing "N passed, N failed" line; exits non-zero on any failure.
set -u
SUITE=run_platform
. "$(dirname "$0")/suite_args.sh"
. "$HERE/wine_env.sh"

# The Linux end of the line.
PEER=${QV_ECHO_PEER:-$ROOT/build/linux/bin/platform_contract}
[ -x "$PEER" ] || { echo "run_platform: $PEER not built (the Linux build makes it)" >&2; exit 2; }

WORK=$(mktemp -d "$BUILD_DIR/wine-run.XXXXXX")
PEER_PID=
cleanup() {
  # Let Wine's server go first: it holds the pty and would take the hang-up when the peer ends.
  wine_wait_server
  # Wine's messages, less the object list its server prints when it ends after a hang-up.
  [ -f "$WORK/wine.err" ] && grep -v -e '^0x' -e '^ ' "$WORK/wine.err" >&2
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null
  wine_unmap_com 9
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# COM8 must be absent for the not-found check.
wine_unmap_com 8

# run_build LABEL BIN_DIR: the platform contract of one build, on COM9 to a fresh echo peer (each
# run ends by making its peer hang up).
run_build() {
  [ -f "$2/platform_contract.exe" ] || { echo "run_platform: $2/platform_contract.exe not built (target platform_contract)" >&2; return 1; }
  start_pty_peer "$WORK/peer-$1.out" "$PEER" --echo-peer || return 1
  wine_map_com 9 "$PEER_PTY"
  (cd "$2" && wine_run ./platform_contract.exe 2>>"$WORK/wine.err")
  status=$?
  wine_wait_server
  kill "$PEER_PID" 2>/dev/null
  PEER_PID=
  return $status
}
wine_each_build run_platform run_build
