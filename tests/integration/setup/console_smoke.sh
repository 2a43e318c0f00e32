#!/bin/sh
# Runs the terminal panel of qvlink-setup inside tmux: an invalid number shows the message,
# a valid one is written as the adapter address and the program ends with 0.
set -eu
setup_bin=$1
work=$(mktemp -d)
session="qvsetup$$"
trap 'tmux kill-session -t "$session" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/profile" "$work/ports"
printf '[VendorInformation]\nDevices=101\n\n[DeviceInformation101]\nDeviceParams=COM7,115200,0,81,20\n' \
  > "$work/profile/QV121032.ini"

tmux new-session -d -s "$session" -x 110 -y 30 \
  "env -u LOCALAPPDATA QV_PROFILE_DIR='$work/profile' QV_PORT_DIR='$work/ports' '$setup_bin'; echo EXIT=\$?; read x"

# Polls the screen for a text, up to 10 s.
wait_for() {
  i=0
  while [ $i -lt 200 ]; do
    if tmux capture-pane -p -t "$session" | grep -qF -- "$1"; then return 0; fi
    i=$((i + 1))
    sleep 0.05
  done
  echo "timed out waiting for: $1" >&2
  tmux capture-pane -p -t "$session" >&2
  return 1
}

wait_for "Enter the last 5 digits of the serial number on your QvLink, then click OK."
wait_for "Serial #:"
tmux send-keys -t "$session" "0" Enter
wait_for "You entered: 0, which is not a valid serial number."
grep -q "COM7,115200,0,81,20" "$work/profile/QV121032.ini"
tmux send-keys -t "$session" Enter
tmux send-keys -t "$session" "4321" Enter
wait_for "EXIT=0"
grep -qx "DeviceParams=COM7,115200,4321,81,20" "$work/profile/QV121032.ini" || {
  cat "$work/profile/QV121032.ini" >&2
  exit 1
}
echo "console smoke passed"
