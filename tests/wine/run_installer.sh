#!/bin/sh
# Installs QvLink-Setup-<version>.exe silently into a fresh 64-bit Wine prefix whose
# RP121032.ini already names other vendors, checks every installed file and both INI files,
# refuses a second run while one is open, runs the Windows RP1210 session of both builds
# against the installed DLLs and the simulator (the registry-driven open: run_rp1210.sh),
# uninstalls silently and checks that only our
# files and our entry went. Then the same without any RP121032.ini.
# Usage: run_installer.sh [WIN64_BUILD_DIR [WIN32_BUILD_DIR]]
# The installer is looked for in WIN32_BUILD_DIR (installer/build.sh or the `installer` target).
set -u
SUITE=run_installer
. "$(dirname "$0")/suite_args.sh"

# The installer is a 32-bit program: without 32-bit support there is nothing to run.
if ! "$HERE/runs_i386.sh"; then
  echo "run_installer: SKIP: this machine cannot run 32-bit programs"
  exit 0
fi
SETUP=$(ls "$WIN32_DIR"/QvLink-Setup-*.exe 2>/dev/null | head -n 1)
[ -n "$SETUP" ] || { echo "run_installer: no QvLink-Setup-*.exe in $WIN32_DIR (installer/build.sh)" >&2; exit 2; }
need_sim

# A prefix of its own, made afresh, so no other suite's files or keys can stand in for ours.
export WINEPREFIX="$BUILD_DIR/wine-installer-prefix"
rm -rf "$WINEPREFIX"
. "$HERE/wine_env.sh"

WORK=$(mktemp -d "$BUILD_DIR/wine-installer.XXXXXX")
PEER_PID= HOLDER_PID=
cleanup() {
  [ -n "$HOLDER_PID" ] && kill "$HOLDER_PID" 2>/dev/null
  wine_wait_server
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null && wait "$PEER_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM


SYS64="$WINE_WINDIR/system32"
SYS32="$WINE_WINDIR/syswow64"
PROGDIR="$WINEPREFIX/drive_c/Program Files (x86)/QvLink"
LINK="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/QvLink/QvLink Setup.lnk"
UNINST_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QvLink'
RP1210_INI="$WINE_WINDIR/RP121032.ini"

# The value of [RP1210Support] APIImplementations (empty when written empty), or "(absent)".
api_list() {
  _v=$(tr -d '\r' 2>/dev/null <"$RP1210_INI" | sed -n '/^\[RP1210Support\]$/,/^\[/s/^APIImplementations=/=/p')
  [ -n "$_v" ] && echo "${_v#=}" || echo "(absent)"
}
list_is() { _got=$(api_list); [ "$_got" = "$1" ] || { echo "    APIImplementations is '$_got', expected '$1'"; return 1; }; }
in_section() { tr -d '\r' <"$RP1210_INI" | grep -qx "$1"; }
absent() { for _f in "$@"; do [ ! -e "$_f" ] || { echo "    still there: $_f"; return 1; }; done; }
uninst_key_present() { WINELOADER="$WINE" "$WINE" reg query "$UNINST_KEY" /v QuietUninstallString /reg:32 >/dev/null 2>&1; }
uninst_key_absent() { ! uninst_key_present; }

# run_setup ARGS...: the installer under 32-bit Wine; its exit status.
run_setup() { WINELOADER="$WINE32" "$WINE32" "$SETUP" "$@" >>"$WORK/setup.log" 2>&1; }
# install: a silent install, once the prefix has fallen idle after it.
install() { run_setup /S; _s=$?; wine_wait_server; return $_s; }
# run_uninstaller: the registered uninstaller, silently. It re-starts itself from the temporary
# directory and returns at once, so the wait is for the prefix to fall idle.
run_uninstaller() {
  _cmd=$(WINELOADER="$WINE" "$WINE" reg query "$UNINST_KEY" /v QuietUninstallString /reg:32 2>/dev/null |
         tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')
  [ "$_cmd" = '"C:\Program Files (x86)\QvLink\Uninstall.exe" /S' ] || { echo "    QuietUninstallString: '$_cmd'"; return 1; }
  WINELOADER="$WINE32" "$WINE32" "$PROGDIR/Uninstall.exe" /S >>"$WORK/setup.log" 2>&1 || return 1
  wine_wait_server
}

crlf() { sed 's/\r$//; s/$/\r/' "$1"; }
crlf "$ROOT/examples/QV121032.ini" >"$WORK/QV121032.expected"
crlf "$ROOT/examples/QvFilter.ini" >"$WORK/QvFilter.expected"

# --- A machine with two other vendors' APIs and its own filter file.
printf '[RP1210Support]\r\nAPIImplementations=OTHRV32, ACME32\r\n\r\n[OtherVendorTool]\r\nKeep=this\r\n' >"$RP1210_INI"
printf '[NumberApps]\r\ntotal=1\r\n[App1]\r\nAppName=otherapp.exe\r\nAppFilter1=001,004,240,000,000,000,000\r\n' \
  >"$WINE_WINDIR/QvFilter.ini"
cp "$WINE_WINDIR/QvFilter.ini" "$WORK/QvFilter.user"
rm -f "$WINE_WINDIR/QV121032.ini"

check "silent install exits 0" install
check "32-bit QV121032.dll in SysWOW64" cmp -s "$SYS32/QV121032.dll" "$WIN32_DIR/bin/QV121032.dll"
check "32-bit QV_API.dll in SysWOW64" cmp -s "$SYS32/QV_API.dll" "$WIN32_DIR/bin/QV_API.dll"
check "64-bit QV121032.dll in System32" cmp -s "$SYS64/QV121032.dll" "$BUILD_DIR/bin/QV121032.dll"
check "64-bit QV_API.dll in System32" cmp -s "$SYS64/QV_API.dll" "$BUILD_DIR/bin/QV_API.dll"
check "QvLink Setup.exe installed" cmp -s "$PROGDIR/QvLink Setup.exe" "$WIN32_DIR/bin/QvLink Setup.exe"
check "uninstaller installed" test -f "$PROGDIR/Uninstall.exe"
check "Start-menu entry" test -f "$LINK"
check "absent QV121032.ini installed from the sample" cmp -s "$WINE_WINDIR/QV121032.ini" "$WORK/QV121032.expected"
check "present QvFilter.ini left as the user had it" cmp -s "$WINE_WINDIR/QvFilter.ini" "$WORK/QvFilter.user"
check "QV121032 added after the other vendors, their entries as written" list_is "OTHRV32, ACME32,QV121032"
check "other sections of RP121032.ini kept" in_section "Keep=this"
check "uninstaller registered" uninst_key_present

# --- A second run while one is open is refused and changes nothing.
WINELOADER="$WINE32" "$WINE32" "$SETUP" >"$WORK/holder.log" 2>&1 &
HOLDER_PID=$!
# The open installer unpacks its System plugin just before it takes the mutex.
_i=0
while [ $_i -lt 300 ] && ! find "$WINEPREFIX/drive_c/users" -path '*/Temp/ns*.tmp/System.dll' 2>/dev/null | grep -q .; do
  sleep 0.1; _i=$((_i + 1))
done
# From unpacking the plugin to holding the mutex is one call; a run that slips in before it
# simply installs again, and the next attempt meets the mutex.
_i=0 second=
while [ $_i -lt 10 ] && [ "$second" != 3 ] && kill -0 "$HOLDER_PID" 2>/dev/null; do
  rm -f "$SYS32/QV_API.dll"
  run_setup /S; second=$?
  _i=$((_i + 1))
done
check "second concurrent run refused with exit 3 (got $second)" test "$second" -eq 3
check "refused run installed nothing" test ! -e "$SYS32/QV_API.dll"
kill "$HOLDER_PID" 2>/dev/null; wait "$HOLDER_PID" 2>/dev/null; HOLDER_PID=
wine_wait_server
check "install again once the first has gone" install
check "QV121032 not listed twice" list_is "OTHRV32, ACME32,QV121032"

# --- The RP1210 session of each build, loading the installed DLLs by name.
# The user points device 1 at COM5; that edit must survive the uninstall.
printf '[DeviceInformation1]\r\nDeviceParams=COM5,115200,12345,81,12\r\n' >>"$WINE_WINDIR/QV121032.ini"
cp "$WINE_WINDIR/QV121032.ini" "$WORK/QV121032.user"
# session DIR: the session program copied into DIR, run there; on failure, its FAIL lines.
session() {
  (cd "$1" && wine_run ./rp1210_session.exe Session) >"$1/session.out" && return 0
  tr -d '\r' <"$1/session.out" | grep FAIL | sed 's/^/    /'
  return 1
}
run_build() {
  mkdir -p "$WORK/app-$1"
  cp "$2/rp1210_session.exe" "$WORK/app-$1/" || return 1
  start_pty_peer "$WORK/sim-$1.out" "$SIM" || return 1
  wine_map_com 5 "$PEER_PTY"
  check "$1 session run against the installed DLLs" session "$WORK/app-$1"
  wine_wait_server
  kill "$PEER_PID" 2>/dev/null && wait "$PEER_PID" 2>/dev/null
  PEER_PID=
  wine_unmap_com 5
}
before=$failed
# A build that could not run at all (no i686 tree, no 32-bit Wine) counts as a failure too.
wine_each_build run_installer run_build || [ "$failed" -ne "$before" ] || failed=$((failed + 1))

# --- Silent uninstall: our files and entry go, everything else stays.
check "silent uninstall" run_uninstaller
check "all DLLs, programs and the Start-menu entry removed" absent \
  "$SYS32/QV121032.dll" "$SYS32/QV_API.dll" "$SYS64/QV121032.dll" "$SYS64/QV_API.dll" \
  "$PROGDIR/QvLink Setup.exe" "$PROGDIR/Uninstall.exe" "$PROGDIR" "$LINK" "$(dirname "$LINK")"
check "uninstaller unregistered" uninst_key_absent
check "only QV121032 left the list" list_is "OTHRV32, ACME32"
check "other sections of RP121032.ini still kept" in_section "Keep=this"
check "user's QV121032.ini kept" cmp -s "$WINE_WINDIR/QV121032.ini" "$WORK/QV121032.user"
check "user's QvFilter.ini kept" cmp -s "$WINE_WINDIR/QvFilter.ini" "$WORK/QvFilter.user"

# --- No RP121032.ini and no QvFilter.ini, but the user's QV121032.ini: the installer creates
# the list, adds the sample filter file and keeps the device file; the uninstaller empties ours out.
rm -f "$RP1210_INI" "$WINE_WINDIR/QvFilter.ini"
check "install with no RP121032.ini" install
check "RP121032.ini created naming QV121032" list_is "QV121032"
check "absent QvFilter.ini installed from the sample" cmp -s "$WINE_WINDIR/QvFilter.ini" "$WORK/QvFilter.expected"
check "present QV121032.ini left as the user had it" cmp -s "$WINE_WINDIR/QV121032.ini" "$WORK/QV121032.user"
check "uninstall again" run_uninstaller
check "our only entry removed" list_is "(absent)"

# --- 32-bit Windows: one system directory, and it takes the 32-bit pair.
P32="$BUILD_DIR/wine-installer-prefix32"
rm -rf "$P32"
wine32_prefix() { WINEPREFIX="$P32" WINEARCH=win32 WINELOADER="$WINE32" "$WINE32" "$@" >>"$WORK/setup.log" 2>&1; }
wine32_prefix wineboot -i
WINEPREFIX="$P32" /usr/lib/wine/wineserver -w 2>/dev/null
check "silent install on 32-bit Windows" wine32_prefix "$SETUP" /S
WINEPREFIX="$P32" /usr/lib/wine/wineserver -w 2>/dev/null
check "32-bit QV121032.dll in System32 of 32-bit Windows" \
  cmp -s "$P32/drive_c/windows/system32/QV121032.dll" "$WIN32_DIR/bin/QV121032.dll"
check "32-bit QV_API.dll in System32 of 32-bit Windows" \
  cmp -s "$P32/drive_c/windows/system32/QV_API.dll" "$WIN32_DIR/bin/QV_API.dll"
check "no SysWOW64 made on 32-bit Windows" absent "$P32/drive_c/windows/syswow64/QV121032.dll"
check "uninstall on 32-bit Windows" wine32_prefix "$P32/drive_c/Program Files/QvLink/Uninstall.exe" /S
WINEPREFIX="$P32" /usr/lib/wine/wineserver -w 2>/dev/null
check "32-bit Windows left without our DLLs" absent \
  "$P32/drive_c/windows/system32/QV121032.dll" "$P32/drive_c/windows/system32/QV_API.dll" \
  "$P32/drive_c/Program Files/QvLink"

echo "run_installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && rm -rf "$WINEPREFIX" "$P32"
[ "$failed" -eq 0 ]
