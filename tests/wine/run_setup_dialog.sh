#!/bin/sh
# Runs "QvLink Setup.exe" under Wine on an Xvfb display against the Linux simulator's modem on
# COM5: the program writes the channel, shows its dialog (screenshot kept in the build tree
# under artifacts/), takes a refused and then a valid serial number typed by window messages,
# and writes the adapter address into QV121032.ini in the prefix's Windows directory.
# Usage: run_setup_dialog.sh [WIN64_BUILD_DIR [WIN32_BUILD_DIR]]
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD_DIR=$(cd "${1:-$ROOT/build/win64}" && pwd) || exit 2
WIN32_DIR=$(cd "${2:-$ROOT/build/win32}" 2>/dev/null && pwd) || WIN32_DIR=/nonexistent
export BUILD_DIR

SETUP="$BUILD_DIR/bin/QvLink Setup.exe"
PRESS="$BUILD_DIR/bin/dialog_press.exe"
SIM=${QV_SIM:-$ROOT/build/linux/bin/qvlink-sim}
for f in "$SETUP" "$PRESS"; do
  [ -f "$f" ] || { echo "run_setup_dialog: $f not built" >&2; exit 2; }
done
[ -x "$SIM" ] || { echo "run_setup_dialog: $SIM not built (the Linux build makes it)" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "run_setup_dialog: Xvfb missing (package xvfb)" >&2; exit 2; }

WORK=$(mktemp -d "$BUILD_DIR/wine-run.XXXXXX")
XVFB_PID= PEER_PID= SETUP_PID=
cleanup() {
  [ -n "$SETUP_PID" ] && kill "$SETUP_PID" 2>/dev/null
  wine_wait_server
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null
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

# A modem with its own address 0x1234 on channel 15: the setup writes channel 15.
start_pty_peer "$WORK/sim.out" "$SIM" --my 1234 --channel 15 --no-bus || exit 2
wine_map_com 5 "$PEER_PTY"

mkdir -p "$WINE_WINDIR"
printf '[VendorInformation]\r\nDevices=101,102\r\n\r\n[DeviceInformation101]\r\nDeviceParams=COM5,115200,0,81\r\n\r\n[DeviceInformation102]\r\nDeviceParams=COM5,115200,0,81\r\n' \
  >"$WINE_WINDIR/QV121032.ini"

passes=0 fails=0
ok() { echo "ok $*"; passes=$((passes + 1)); }
bad() { echo "FAIL $*"; fails=$((fails + 1)); }

(cd "$BUILD_DIR/bin" && exec "$WINE" "./QvLink Setup.exe") >"$WORK/setup.out" 2>&1 &
SETUP_PID=$!
if (cd "$BUILD_DIR/bin" && wine_run ./dialog_press.exe wait); then ok "dialog checks"; else bad "dialog checks"; fi

mkdir -p "$BUILD_DIR/artifacts"
if command -v import >/dev/null; then
  if import -display "$DISPLAY" -window root "$BUILD_DIR/artifacts/setup-dialog.png" 2>"$WORK/import.err"; then
    ok "screenshot $BUILD_DIR/artifacts/setup-dialog.png"
  else
    bad "screenshot: $(cat "$WORK/import.err")"
  fi
else
  echo "run_setup_dialog: no screenshot (ImageMagick's import is not installed)"
fi

# The channel is written during start-up, before the dialog is shown.
grep -q '^DeviceParams=COM5,115200,0,81,15' "$WINE_WINDIR/QV121032.ini" && ok "channel 15 written" ||
  bad "channel not written: $(tr -d '\r' <"$WINE_WINDIR/QV121032.ini" | grep DeviceParams | tr '\n' ' ')"

if (cd "$BUILD_DIR/bin" && wine_run ./dialog_press.exe enter 0 4321abc 65534 -5 12345); then ok "typed numbers"; else bad "typed numbers"; fi

# The program ends by itself once a valid number is taken (with a deadline).
i=0
while kill -0 "$SETUP_PID" 2>/dev/null && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
if kill -0 "$SETUP_PID" 2>/dev/null; then
  bad "QvLink Setup.exe still running 10 s after OK"
else
  wait "$SETUP_PID"; code=$?
  SETUP_PID=
  [ "$code" -eq 0 ] && ok "exit code 0" || bad "exit code $code"
fi

params=$(tr -d '\r' <"$WINE_WINDIR/QV121032.ini" | grep -c '^DeviceParams=COM5,115200,12345,81,15$')
[ "$params" -eq 2 ] && ok "serial number 12345 written as the address of both devices" ||
  bad "addresses not written: $(tr -d '\r' <"$WINE_WINDIR/QV121032.ini" | grep DeviceParams | tr '\n' ' ')"

if [ -f "$WIN32_DIR/bin/QvLink Setup.exe" ]; then
  if wine32_works; then
    echo "run_setup_dialog: the win32 dialog is not run here; the win64 one covers the same code"
  else
    wine32_skip run_setup_dialog
  fi
fi
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
