#!/bin/sh
# Runs the Windows RP1210 application (rp1210_session.exe) under Wine against the Linux
# simulator: COM5 of the prefix leads to the simulator's pty, QV121032.ini sits in the prefix's
# Windows directory, the driver's registry key is imported with `reg add`.
# Usage: run_rp1210.sh [WIN64_BUILD_DIR [WIN32_BUILD_DIR]]
set -u
SUITE=run_rp1210
. "$(dirname "$0")/suite_args.sh"
. "$HERE/wine_env.sh"

need_sim

WORK=$(mktemp -d "$BUILD_DIR/wine-run.XXXXXX")
PEER_PID=
stop_sim() {
  # Wine's server holds the pty: let it go before the simulator does.
  wine_wait_server
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null && wait "$PEER_PID" 2>/dev/null
  PEER_PID=
}
cleanup() {
  stop_sim
  wine_unmap_com 5
  rm -f "$WINE_WINDIR/QV121032.ini"
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

wine_unmap_com 8  # the registry run needs a port that is not there
mkdir -p "$WINE_WINDIR"
printf '[DeviceInformation1]\r\nDeviceParams=COM5,115200,12345,81,12\r\n[Logging]\r\nLoggingType=0\r\n' \
  >"$WINE_WINDIR/QV121032.ini"

# run_build LABEL BIN_DIR: both modes of one build against a simulator of its own, whose report
# of the long messages it received is checked once it has stopped.
run_build() {
  [ -f "$2/rp1210_session.exe" ] || { echo "run_rp1210: $2/rp1210_session.exe not built (target rp1210_session)" >&2; return 1; }
  KEY='HKLM\Software\Morvane\QV_Device\Device01'
  wine_reg add "$KEY" /v Port /d COM5 /f >/dev/null 2>&1 &&
    wine_reg add "$KEY" /v Parameter1 /d 115200 /f >/dev/null 2>&1 &&
    wine_reg add "$KEY" /v "RF Address" /d 12345 /f >/dev/null 2>&1 ||
    { echo "run_rp1210: reg add $REG_VIEW failed" >&2; return 1; }
  wine_reg delete 'HKLM\Software\Morvane\QV_Device\Device02' /f >/dev/null 2>&1

  start_pty_peer "$WORK/sim-$1.out" "$SIM" || return 1
  wine_map_com 5 "$PEER_PTY"
  _ok=0
  for mode in Session Registry; do
    start=$(date +%s)
    (cd "$2" && wine_run ./rp1210_session.exe "$mode") >"$WORK/$mode-$1.out" || _ok=1
    cat "$WORK/$mode-$1.out"
    echo "run_rp1210: $1 $mode took $(( $(date +%s) - start )) s"
  done
  stop_sim
  wine_reg delete 'HKLM\Software\Morvane\QV_Device' /f >/dev/null 2>&1

  # Each long message must have reached the bus whole and unchanged.
  for kind in rts bam; do
    sent=$(tr -d "\r" <"$WORK/Session-$1.out" | awk -v k="$kind" '$1 == "sent-long" && $2 == k {print $5}')
    if [ -n "$sent" ] && grep -q "^long-from-pc $kind pgn=61184 bytes=1785 complete=1 $sent\$" "$WORK/sim-$1.out"; then
      echo "ok the simulator received the $1 $kind message whole ($sent)"
    else
      echo "FAIL the simulator did not receive the $1 $kind message whole:"
      grep '^long-from-pc' "$WORK/sim-$1.out" | sed 's/^/    /'
      _ok=1
    fi
  done
  return $_ok
}
wine_each_build run_rp1210 run_build
