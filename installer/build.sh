#!/bin/sh
# Builds QvLink-Setup-<version>.exe with makensis from the i686 and x86_64 Windows build trees.
# Usage: installer/build.sh WIN32_BUILD_DIR WIN64_BUILD_DIR OUT_DIR
# Prints the installer's path. QV_VERSION overrides the version taken from CMakeLists.txt.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 WIN32_BUILD_DIR WIN64_BUILD_DIR OUT_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
win32=$(cd "$1" && pwd)/bin
win64=$(cd "$2" && pwd)/bin
mkdir -p "$3"
out=$(cd "$3" && pwd)
version=${QV_VERSION:-$(sed -n 's/^project(QvLink VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
[ -n "$version" ] || { echo "build.sh: no version in $root/CMakeLists.txt" >&2; exit 2; }
command -v makensis >/dev/null || { echo "build.sh: makensis not found (package nsis)" >&2; exit 2; }
for f in "$win32/QV121032.dll" "$win32/QV_API.dll" "$win32/QvLink Setup.exe" "$win64/QV121032.dll" "$win64/QV_API.dll"; do
  [ -f "$f" ] || { echo "build.sh: $f not built" >&2; exit 2; }
done

# The settings files go out with Windows line ends, as Notepad users expect.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for f in QV121032.ini QvFilter.ini; do
  sed 's/\r$//; s/$/\r/' "$root/examples/$f" >"$stage/$f"
done

setup="$out/QvLink-Setup-$version.exe"
makensis -V2 -NOCD "-DVERSION=$version" "-DWIN32_BIN=$win32" "-DWIN64_BIN=$win64" \
  "-DINI_DIR=$stage" "-DOUTFILE=$setup" "$here/QvLink.nsi" >&2
echo "$setup"
