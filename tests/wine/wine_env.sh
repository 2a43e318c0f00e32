#!/bin/sh
# Shared Wine set-up for the Wine tests. Source it with BUILD_DIR set to a Windows build tree.
# Gives WINE (the 64-bit loader), a throw-away WINEPREFIX under the build tree (booted once,
# reused afterwards) and the helpers wine_run and wine_map_com.
: "${BUILD_DIR:?BUILD_DIR must name the Windows build tree}"
WINE=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wine-prefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [ ! -x "$WINE" ]; then
  echo "wine_env: $WINE not found (package wine64)" >&2
  exit 2
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine_env: first start of Wine in $WINEPREFIX"
  WINELOADER="$WINE" "$WINE" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine_env: wineboot failed to create $WINEPREFIX" >&2
  exit 2
fi

# Windows need a graphics driver: X11 when a display (Xvfb) is given, else Wine's null driver.
WINE_GRAPHICS=null
[ -n "${DISPLAY:-}" ] && WINE_GRAPHICS=x11
if [ "$(cat "$WINEPREFIX/.qv_graphics" 2>/dev/null)" != "$WINE_GRAPHICS" ]; then
  WINELOADER="$WINE" "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$WINE_GRAPHICS" /f >/dev/null 2>&1 &&
    echo "$WINE_GRAPHICS" >"$WINEPREFIX/.qv_graphics"
fi

# The Windows directory of the prefix, where bare-named profile files live.
WINE_WINDIR="$WINEPREFIX/drive_c/windows"

# The loader of the build being run (see wine_each_build); the 64-bit one outside it.
WINE32=${WINE32:-/usr/lib/wine/wine}
WINE_LOADER=$WINE
# The registry view that build's programs read: a 32-bit program on 64-bit Windows reads
# HKLM\Software through Wow6432Node, as an installer of a 32-bit driver writes it.
REG_VIEW=/reg:64

# wine_run PROGRAM ARGS...: runs a Windows program with the current build's loader.
wine_run() {
  WINELOADER="$WINE_LOADER" "$WINE_LOADER" "$@"
}

# wine_reg ARGS...: reg.exe (64-bit) on the current build's registry view.
wine_reg() {
  WINELOADER="$WINE" "$WINE" reg "$@" "$REG_VIEW"
}

# wine_each_build SUITE FUNCTION: calls FUNCTION LABEL BIN_DIR for the x86_64 build in BUILD_DIR
# and the i686 build in WIN32_DIR, each with its own loader and registry view. Where this
# kernel runs no 32-bit programs the i686 run is a plain SKIP; where it does, a missing build
# or a 32-bit Wine that does not start is a failure. Returns non-zero when anything failed.
wine_each_build() {
  _suite=$1 _fn=$2 _status=0
  echo "$_suite: win64 build under wine64"
  "$_fn" win64 "$BUILD_DIR/bin" || _status=1
  if ! "${HERE:?}/runs_i386.sh"; then
    echo "$_suite: SKIP win32 build: this machine cannot run 32-bit programs"
  elif [ ! -d "${WIN32_DIR:-/nonexistent}/bin" ]; then
    echo "$_suite: FAIL win32 build: ${WIN32_DIR:-(none given)} has no bin/"; _status=1
  elif ! { [ -x "$WINE32" ] && "$WINE32" --version >/dev/null 2>&1; }; then
    echo "$_suite: FAIL win32 build: 32-bit Wine does not start (package wine32:i386)"; _status=1
  else
    WINE_LOADER=$WINE32 REG_VIEW=/reg:32
    echo "$_suite: win32 build under 32-bit Wine"
    "$_fn" win32 "$WIN32_DIR/bin" || _status=1
  fi
  WINE_LOADER=$WINE REG_VIEW=/reg:64
  return $_status
}

# wine_map_com N PATH: makes COMn of the prefix lead to PATH (a pty slave).
wine_map_com() {
  mkdir -p "$WINEPREFIX/dosdevices"
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# wine_unmap_com N: removes the link again.
wine_unmap_com() {
  rm -f "$WINEPREFIX/dosdevices/com$1"
}

# wine_wait_server: waits for the prefix's Wine server to finish (it lingers a few seconds
# after the last program). Call before ending a pty peer whose pty Wine still holds.
wine_wait_server() {
  /usr/lib/wine/wineserver -w 2>/dev/null || true
}

# start_pty_peer OUT PROGRAM ARGS...: starts a Linux program that prints its pty's path as its
# first line on stdout (kept in OUT, stderr in OUT.err) and polls up to 10 s for that line.
# Sets PEER_PID and PEER_PTY; fails when no path comes.
start_pty_peer() {
  _out=$1; shift
  "$@" >"$_out" 2>"$_out.err" &
  PEER_PID=$!
  _i=0
  while [ ! -s "$_out" ] && [ $_i -lt 200 ]; do
    kill -0 "$PEER_PID" 2>/dev/null || break
    sleep 0.05; _i=$((_i + 1))
  done
  PEER_PTY=$(head -n 1 "$_out")
  [ -n "$PEER_PTY" ] && return 0
  echo "wine_env: $1 gave no pty" >&2
  cat "$_out.err" >&2
  return 1
}
