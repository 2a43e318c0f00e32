#!/bin/sh
# qvlink-setup in a terminal, as a person meets it, against qvlink-sim's modem on COM5:
# typed in tmux (a modem without an address, a wrong number followed at once by a right one),
# piped to its end, a port held or missing, and no INI file.
# Checks the screen, the exit codes and the INI files. --help and wrong arguments: unit tests.
# Usage: console_smoke.sh QVLINK_SETUP QVLINK_SIM
set -eu
setup_bin=$1
sim_bin=$2
work=$(mktemp -d)
session="qvsetup$$"
sim_pid=
cleanup() {
  tmux kill-session -t "$session" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/profile" "$work/ports" "$work/empty" "$work/local/VirtualStore/Windows"
ini="$work/profile/QV121032.ini"
copy="$work/local/VirtualStore/Windows/QV121032.ini"  # the per-user copy
fresh_ini() {
  printf '; QvLink\r\n[VendorInformation]\r\nDevices=101,102\r\n\r\n[DeviceInformation101]\r\nDeviceID=101\r\nDeviceParams=COM5,115200,0,81\r\n\r\n[DeviceInformation102]\r\nDeviceParams=COM5,115200,0,81\r\n; keep me\r\n[ProtocolInformation1]\r\nProtocolString=J1939\r\n' >"$ini"
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A modem without an address (serial number ...B2C3) on channel 15.
"$sim_bin" --port-dir "$work/ports" --port COM5 --my FFFF --channel 15 --no-bus >"$work/sim.out" 2>&1 &
sim_pid=$!
i=0
while [ ! -e "$work/ports/COM5" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
[ -e "$work/ports/COM5" ] || fail "qvlink-sim did not make COM5"
run_env="env -u LOCALAPPDATA QV_PROFILE_DIR=$work/profile QV_PORT_DIR=$work/ports"

# --- Typed in a terminal: the modem gets the address B2C3, so channel 16; both copies take it,
# and nothing else of the file changes.
fresh_ini
sed 's/^DeviceParams=.*/DeviceParams=COM5,115200,4321,81,16\r/' "$ini" >"$work/expected.ini"
printf '[VendorInformation]\nDevices=101\n[DeviceInformation101]\nDeviceParams=COM5,115200,7,81,20\n' >"$copy"
tmux new-session -d -s "$session" -x 250 -y 50 \
  "env LOCALAPPDATA='$work/local' QV_PROFILE_DIR='$work/profile' QV_PORT_DIR='$work/ports' \
   '$setup_bin' 2>'$work/typed.err'; echo EXIT=\$?; read x"

# Polls the screen for a text, up to 10 s.
wait_for() {
  i=0
  while [ $i -lt 200 ]; do
    if tmux capture-pane -p -t "$session" -S -100 | grep -qF -- "$1"; then return 0; fi
    i=$((i + 1))
    sleep 0.05
  done
  tmux capture-pane -p -t "$session" -S -100 >&2
  fail "timed out waiting for: $1"
}

wait_for "Radio modem address set to B2C3 and stored."
wait_for "Radio channel 16 recorded for devices 101, 102 in $ini."
wait_for "Enter the last 5 digits of the serial number on your QvLink, then click OK."
wait_for "Serial #:"
# A slip and its correction typed at once, before the message has been seen.
tmux send-keys -t "$session" "0" Enter "4321" Enter
wait_for "You entered: 0, which is not a valid serial number."
wait_for "Address 4321 written for devices 101, 102 in $ini (radio channel 16)."
wait_for "EXIT=0"
cmp -s "$ini" "$work/expected.ini" || { cat "$ini" >&2; fail "the typed run changed more than DeviceParams"; }
grep -qx "DeviceParams=COM5,115200,4321,81,16" "$copy" || { cat "$copy" >&2; fail "the per-user copy"; }
[ ! -s "$work/typed.err" ] || fail "typed run said on stderr: $(cat "$work/typed.err")"
tmux kill-session -t "$session"

# --- Piped, as a script pairs a device: the end of input before a valid number gives exit 3,
# told on stderr, and no address (a refusal: the typed run; the channel of a modem that has
# one: the flow's unit rows).
fresh_ini
code=0
$run_env "$setup_bin" </dev/null >"$work/piped.out" 2>"$work/piped.err" || code=$?
[ "$code" -eq 3 ] || fail "end of input gave exit $code: $(cat "$work/piped.err")"
grep -q "address was not written" "$work/piped.err" || fail "end of input not told: $(cat "$work/piped.err")"
! grep -q "DeviceParams=COM5,115200,[1-9]" "$ini" || { cat "$ini" >&2; fail "an address was written"; }

# --- The port held by another program, then missing: told, and the file as it was.
fresh_ini
cp "$ini" "$work/before.ini"
for held in yes no; do
  code=0
  if [ $held = yes ]; then
    want="COM5 is in use by another program"
    flock "$work/ports/COM5" $run_env "$setup_bin" </dev/null >/dev/null 2>"$work/port.err" || code=$?
  else
    want="COM5: no such port"
    env -u LOCALAPPDATA QV_PROFILE_DIR="$work/profile" QV_PORT_DIR="$work/empty" "$setup_bin" </dev/null \
      >/dev/null 2>"$work/port.err" || code=$?
  fi
  [ "$code" -eq 3 ] && grep -qxF "qvlink-setup: $want" "$work/port.err" || fail "$want: exit $code, $(cat "$work/port.err")"
  cmp -s "$ini" "$work/before.ini" || fail "$want: the INI file changed"
done

# --- No INI file: said, and the exit code says the address was not written.
code=0
printf '4321\n' | env -u LOCALAPPDATA QV_PROFILE_DIR="$work/empty" QV_PORT_DIR="$work/ports" \
  "$setup_bin" >"$work/noini.out" 2>"$work/noini.err" || code=$?
[ "$code" -eq 1 ] || fail "no INI file gave exit $code"
grep -qF "no QV121032.ini at $work/empty/QV121032.ini" "$work/noini.err" ||
  fail "no INI file not told: $(cat "$work/noini.err")"
[ ! -e "$work/empty/QV121032.ini" ] || fail "an INI file was made"

echo "console smoke passed"
