#!/usr/bin/env bash
# Runs a command inside the test prefix (under the build folder, made once and reused), with a private
# Xvfb display and a persistent wineserver, and stops both afterwards whatever the command did.
# The prefix is a WoW64 one: 64-bit programs run natively, 32-bit ones (the product) through Wine's 32-bit
# loader under qemu-i386, because the kernels of these machines execute no 32-bit code.
set -euo pipefail

BUILD=${BUILD:-$(pwd)/build}
emu=$BUILD/emu
[ -x "$emu/bin/qemu-i386" ] || bash "$(dirname "$0")/../tools/install-deps.sh"

# The loader tree: Wine finds its libraries and its 32-bit loader from where wine64 lies, so wine64 is a
# real copy (a link would lead it back to /usr/lib/wine, whose 32-bit loader the kernel refuses), beside a
# `wine` that runs the real 32-bit loader under the emulator.
mkdir -p "$emu/lib/wine"
cp -u /usr/lib/wine/wine64 "$emu/lib/wine/wine64"
cp -u /usr/lib/wine/wine "$emu/lib/wine/wine32-real"
for dir in lib/x86_64-linux-gnu lib/i386-linux-gnu share; do ln -sfn "/usr/$dir" "$emu/$dir"; done
cat >"$emu/lib/wine/wine.part" <<LOADER
#!/bin/sh
# Wine's 32-bit loader under CPU emulation; argv[0] keeps the tree's path so that it finds its libraries.
export WINELOADERNOEXEC=1
exec "$emu/bin/qemu-i386" -0 "$emu/lib/wine/wine" "$emu/lib/wine/wine32-real" "\$@"
LOADER
chmod +x "$emu/lib/wine/wine.part" && mv "$emu/lib/wine/wine.part" "$emu/lib/wine/wine"

export WINEPREFIX=$BUILD/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINELOADER=$emu/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
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

# A prefix without the 32-bit system files predates the emulated loader: make it anew.
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/itss.dll" ]; then
    rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX" >&2
    mkdir -p "$BUILD"
    # No offers to install Mono or Gecko: creating the prefix must never stall.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$wineserver" -w
    # A crashing program gets a backtrace and ends, instead of waiting at Wine's crash dialog.
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    "$wineserver" -w
    # wineboot's 32-bit half fills syswow64 and registers the 32-bit COM classes (ITStorage among them).
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/itss.dll" ] || { echo "the prefix has no 32-bit half" >&2; exit 1; }
fi

# A persistent server spares every test process Wine's start-up; every stream is redirected so that
# Wine's background processes do not hold the caller's output pipe open.
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine" wineboot </dev/null >/dev/null 2>&1

"$@"
