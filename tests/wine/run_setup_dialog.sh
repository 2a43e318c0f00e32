#!/bin/sh
# Runs "QvLink Setup.exe" under Wine on an Xvfb display against the Linux simulator's modem on
# COM5: the program writes the channel, shows its dialog (screenshot kept in the build tree
# under artifacts/), takes a refused and then a valid serial number typed by window messages,
# and writes the adapter address into QV121032.ini in the prefix's Windows directory.
# Usage: run_setup_dialog.sh [WIN64_BUILD_DIR [WIN32_BUILD_DIR]]
set -u
SUITE=run_setup_dialog
. "$(dirname "$0")/suite_args.sh"

need_sim
command -v Xvfb >/dev/null || { echo "run_setup_dialog: Xvfb missing (package xvfb)" >&2; exit 2; }

WORK=$(mktemp -d "$BUILD_DIR/wine-run.XXXXXX")
XVFB_PID= PEER_PID= SETUP_PID=
stop_sim() {
  [ -n "$SETUP_PID" ] && kill "$SETUP_PID" 2>/dev/null
  SETUP_PID=
  wine_wait_server
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null && wait "$PEER_PID" 2>/dev/null
  PEER_PID=
}
cleanup() {
  stop_sim
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wine_unmap_com 5
  rm -f "$WINE_WINDIR/QV121032.ini"
  rm -rf "$WORK"
}

# A display of our own: the first free number from 90.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
i=0
while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 200 ]; do
  kill -0 "$XVFB_PID" 2>/dev/null || break
  sleep 0.05; i=$((i + 1))
done
[ -e "/tmp/.X11-unix/X$n" ] || { echo "run_setup_dialog: Xvfb did not start" >&2; cat "$WORK/xvfb.log" >&2; exit 2; }
export DISPLAY=":$n"
. "$HERE/wine_env.sh"
trap cleanup EXIT INT TERM

ARTIFACTS="$BUILD_DIR/artifacts"
mkdir -p "$ARTIFACTS"

# run_build LABEL BIN_DIR: one build's setup program against a fresh simulator and INI file.
run_build() {
  for f in "$2/QvLink Setup.exe" "$2/dialog_press.exe"; do
    [ -f "$f" ] || { fail "$1: $f not built"; return 1; }
  done
  # A modem with its own address 0x1234 on channel 15: the setup writes channel 15.
  start_pty_peer "$WORK/sim-$1.out" "$SIM" --my 1234 --channel 15 --no-bus || { fail "$1 simulator"; return; }
  wine_map_com 5 "$PEER_PTY"

  mkdir -p "$WINE_WINDIR"
  printf '[VendorInformation]\r\nDevices=101,102\r\n\r\n[DeviceInformation101]\r\nDeviceParams=COM5,115200,0,81\r\n\r\n[DeviceInformation102]\r\nDeviceParams=COM5,115200,0,81\r\n' \
    >"$WINE_WINDIR/QV121032.ini"

  (cd "$2" && exec "$WINE_LOADER" "./QvLink Setup.exe") >"$WORK/setup-$1.out" 2>&1 &
  SETUP_PID=$!
  if (cd "$2" && wine_run ./dialog_press.exe wait); then ok "$1 dialog checks"; else fail "$1 dialog checks"; fi

  if command -v import >/dev/null; then
    if import -display "$DISPLAY" -window root "$ARTIFACTS/setup-dialog-$1.png" 2>"$WORK/import.err"; then
      ok "$1 screenshot $ARTIFACTS/setup-dialog-$1.png"
    else
      fail "$1 screenshot: $(cat "$WORK/import.err")"
    fi
  else
    echo "run_setup_dialog: no screenshot (ImageMagick's import is not installed)"
  fi

  if (cd "$2" && wine_run ./dialog_press.exe enter 0 4321abc 65534 -5 12345); then ok "$1 typed numbers"; else fail "$1 typed numbers"; fi

  # The program ends by itself once a valid number is taken (with a deadline).
  i=0
  while kill -0 "$SETUP_PID" 2>/dev/null && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
  if kill -0 "$SETUP_PID" 2>/dev/null; then
    fail "$1 QvLink Setup.exe still running 10 s after OK"
  else
    wait "$SETUP_PID"; code=$?
    SETUP_PID=
    [ "$code" -eq 0 ] && ok "$1 exit code 0" || fail "$1 exit code $code"
  fi

  params=$(tr -d '\r' <"$WINE_WINDIR/QV121032.ini" | grep -c '^DeviceParams=COM5,115200,12345,81,15$')
  [ "$params" -eq 2 ] && ok "$1 serial number 12345 and channel 15 written for both devices" ||
    fail "$1 addresses not written: $(tr -d '\r' <"$WINE_WINDIR/QV121032.ini" | grep DeviceParams | tr '\n' ' ')"
  stop_sim
}
wine_each_build run_setup_dialog run_build || failed=$((failed + 1))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
