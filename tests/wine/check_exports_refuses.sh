#!/usr/bin/env bash
# The export check must refuse the deliberately wrong DLLs of tests/wine/bad_exports: a missing
# and an extra name, decorated names, a cdecl entry point, a wrong argument size and no version
# resource.
# Usage: tests/wine/check_exports_refuses.sh WIN32_BUILD_DIR WIN64_BUILD_DIR
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
out=$(bash "$here/check_exports.sh" "$1/bad-exports" "$2/bad-exports")
rc=$?
fails=0
expect() {
  if grep -qF -- "$1" <<<"$out"; then echo "ok refused: $1"; else echo "FAIL not refused: $1"; fails=$((fails + 1)); fi
}
[ "$rc" -ne 0 ] && echo "ok the check fails" || { echo "FAIL the check passed the wrong DLLs"; fails=$((fails + 1)); }
expect "QV_API.dll has decorated export names"
expect "QV_API.dll: SendQVCommand is not __stdcall with 20 argument bytes"
expect "QV121032.dll: RP1210_GetErrorMsg is not __stdcall with 8 argument bytes"
expect "QV121032.dll: RP1210_ReadVersion is not __stdcall with 16 argument bytes"
expect "> Extra"
expect "< Transmit_Message"
expect "QV_API.dll version resource"
[ "$fails" -eq 0 ]
