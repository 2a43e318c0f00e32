#!/usr/bin/env bash
# run.sh BIN_DIR VENV_DIR: installs python/ offline into a fresh venv made with
# --system-site-packages (so Debian's python3-can is seen) and runs test_bus.py beside this
# script against the qvlink-sim and libQV121032.so of BIN_DIR. Exit 77 (skipped) without
# python3-can.
set -euo pipefail
bin=$(cd "$1" && pwd)
venv=$2
here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
root=$(cd "$here/../../.." && pwd)
py=/usr/bin/python3  # Debian's, whatever python3 comes first in PATH
if ! "$py" -c 'import can' 2>/dev/null; then
  echo "SKIP: Debian's python3-can is not installed (./dev test installs it)"
  exit 77
fi
rm -rf "$venv"
"$py" -m venv --system-site-packages "$venv"
# A copy, so the build leaves nothing in the source tree.
cp -r "$root/python" "$venv/src"
"$venv/bin/pip" install --quiet --no-deps --no-build-isolation --no-index "$venv/src"
cd "$venv"  # the installed package is the one imported, not the source folder
PYTHONDONTWRITEBYTECODE=1 QV_BIN_DIR=$bin "$venv/bin/python" -m unittest discover -s "$here" -p 'test_*.py' -v
