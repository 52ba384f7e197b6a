#!/usr/bin/env bash
# Runs a command inside the test prefix (under the build folder, made once and reused), with a private
# Xvfb display and a persistent wineserver, and stops both afterwards whatever the command did.
# The tests run 64-bit builds through Wine's 64-bit loader: the kernels of these machines cannot execute
# 32-bit programs, so the 32-bit loader (which `wine` picks when wine32 is installed) cannot start.
set -euo pipefail

BUILD=${BUILD:-$(pwd)/build}
export WINEPREFIX=$BUILD/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
wine=$WINELOADER
wineserver=$WINESERVER

display=""
for n in $(seq 90 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX" >&2
    mkdir -p "$BUILD"
    # No offers to install Mono or Gecko: creating the prefix must never stall.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$wineserver" -w
    # A crashing program gets a backtrace and ends, instead of waiting at Wine's crash dialog.
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    "$wineserver" -w
fi

# A persistent server spares every test process Wine's start-up; every stream is redirected so that
# Wine's background processes do not hold the caller's output pipe open.
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine" wineboot </dev/null >/dev/null 2>&1

"$@"
