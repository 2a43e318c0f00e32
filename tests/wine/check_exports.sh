#!/usr/bin/env bash
# Static checks of the Windows binaries, for builds that this machine cannot run:
# - QV_API.dll exports exactly the twenty driver entry points and QV121032.dll exactly the
#   eleven RP1210 ones (the original eight and three of RP1210C), undecorated;
# - in the i686 build each entry point is __stdcall: its internal symbol carries the
#   callee-popped argument size (_Name@N) with the N of its signature;
# - every binary imports from system DLLs only (the C++ runtime is linked in statically);
# - every binary carries a version resource (product name, file name, file version).
# Usage: tests/wine/check_exports.sh WIN32_BUILD_DIR WIN64_BUILD_DIR
# No "echo | grep -q" here: under pipefail grep's early exit kills echo with SIGPIPE and a
# match reads as a failure.
set -uo pipefail
fails=0; passes=0
ok() { passes=$((passes + 1)); }
bad() { echo "FAIL: $*"; fails=$((fails + 1)); }

driver_exports="BeginDataLog:8 ConfigureCAN:8 ConfigurePWM:8 ConfigureUART:8 ConfigureVKL:8
Configure_Receive_Message:8 Configure_Transmit_Message:8 GetHardwareStatus:8 GetVersions:8
Initialize_Hardware:12 Receive_Message:8 Receive_Transport_Message:8 Restore_Hardware:12
SendQVCommand:20 SetVerboseMode:8 Set_Filter:8 Set_Transport_Address:8 Set_Trigger:8
Transmit_Message:8 UploadDataLog:8"
rp1210_exports="RP1210_ClientConnect:24 RP1210_ClientDisconnect:4 RP1210_GetErrorMsg:8
RP1210_GetHardwareStatus:16 RP1210_ReadMessage:16 RP1210_ReadVersion:16 RP1210_SendCommand:16
RP1210_SendMessage:20 RP1210_ReadDetailedVersion:16 RP1210_GetLastErrorMsg:16 RP1210_Ioctl:16"
system_dlls='^(kernel32|user32|advapi32|psapi|msvcrt|gdi32|comctl32|comdlg32|shell32|ole32|ws2_32|ntdll|api-ms-win-.*)\.dll$'

exports_of() {  # names in the export table, one per line
  objdump -p "$1" | awk '/Ordinal\/Name Pointer/{t=1;next} t && /^[ \t]*\[/{print $NF;next} {t=0}' | sort
}

check_dll() {  # dll, expected "name:bytes" list, is_i686
  local dll=$1 expected=$2 i686=$3
  if [ ! -f "$dll" ]; then bad "$dll missing"; return; fi
  local want got
  want=$(for e in $expected; do echo "${e%%:*}"; done | sort)
  got=$(exports_of "$dll")
  if [ "$want" == "$got" ]; then ok; else
    bad "$(basename "$dll") exports differ:"; diff <(echo "$want") <(echo "$got") | sed 's/^/    /'
  fi
  if grep -q '@' <<<"$got"; then bad "$(basename "$dll") has decorated export names"; else ok; fi
  if [ "$i686" = 1 ]; then
    local syms; syms=$(i686-w64-mingw32-nm "$dll" 2>/dev/null)
    for e in $expected; do
      local n=${e%%:*} b=${e##*:}
      if grep -Eq " _${n}@${b}\$" <<<"$syms"; then ok; else bad "$(basename "$dll"): $n is not __stdcall with $b argument bytes"; fi
    done
  fi
}

# Imports from system DLLs only, and a version resource naming the product, the file and its
# version.
check_binary() {
  local bin=$1 dll strs product file version
  [ -f "$bin" ] || return 0
  while read -r dll; do
    if grep -Eiq "$system_dlls" <<<"$dll"; then ok; else bad "$(basename "$bin") imports $dll"; fi
  done < <(objdump -p "$bin" | awk '/DLL Name:/{print $3}')
  strs=$(strings -el "$bin")
  product=$(awk 'p {print; exit} $0 == "ProductName" {p=1}' <<<"$strs")
  file=$(awk 'p {print; exit} $0 == "OriginalFilename" {p=1}' <<<"$strs")
  version=$(awk 'p {print; exit} $0 == "FileVersion" {p=1}' <<<"$strs")
  if [ "$product" = "QvLink PC software" ] && [ "$file" = "$(basename "$bin")" ] &&
     grep -Eq '^[0-9]+\.[0-9]+\.[0-9]+$' <<<"$version"; then ok
  else bad "$(basename "$bin") version resource: product '$product', file '$file', version '$version'"
  fi
}

for dir in "$@"; do
  i686=0; grep -q 'pei-i386' <<<"$(objdump -f "$dir/bin/QV_API.dll" 2>/dev/null)" && i686=1
  check_dll "$dir/bin/QV_API.dll" "$driver_exports" "$i686"
  check_dll "$dir/bin/QV121032.dll" "$rp1210_exports" "$i686"
  for b in "$dir/bin/QV_API.dll" "$dir/bin/QV121032.dll" "$dir/bin/QvLink Setup.exe"; do
    check_binary "$b"
  done
done
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
