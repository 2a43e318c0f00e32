#!/bin/sh
# Runs one usage example against qvlink-sim on a private port and profile directory.
# usage: run_example.sh BIN_DIR EXAMPLES_DIR c|py
set -u
bin=$1 examples=$2 kind=$3
dir=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$dir"' EXIT
sed 's/^LoggingType=.*/LoggingType=0/' "$examples/QV121032.ini" >"$dir/QV121032.ini"
"$bin/qvlink-sim" --port-dir "$dir" --port COM5 >"$dir/sim.out" 2>&1 &
sim=$!
# Wait (bounded) for the simulator to publish its port.
n=0
while [ ! -e "$dir/COM5" ] && [ $n -lt 100 ]; do sleep 0.05; n=$((n + 1)); done
[ -e "$dir/COM5" ] || { echo "qvlink-sim did not publish COM5"; cat "$dir/sim.out"; exit 1; }
export QV_PROFILE_DIR="$dir" QV_PORT_DIR="$dir"
case $kind in
  c) "$bin/rp1210_example" 101 J1939 20 ;;
  py) python3 "$examples/rp1210_example.py" "$bin/libQV121032.so" 101 J1939 20 ;;
esac
