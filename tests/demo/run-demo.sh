#!/usr/bin/env bash
# Starts Corvane.exe on the embedded demo under the driver, with the simulated runtime standing in for
# .NET, and prints what a user sees: the splash window, each box with its text, and the exit code.
# FLAVOUR=win32 (the default) starts the 32-bit product users get, under CPU emulation; FLAVOUR=win64 the
# 64-bit build of the same sources.
set -euo pipefail
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
flavour=${FLAVOUR:-win32}
case $flavour in
    win32) system=syswow64 what="the 32-bit product, under CPU emulation: this machine runs no 32-bit code" ;;
    win64) system=system32 what="the 64-bit build of the same sources" ;;
    *) echo "FLAVOUR is win32 or win64" >&2; exit 2 ;;
esac
demo=$BUILD/demo
mkdir -p "$demo/temp"
rm -f "$demo/clr.log"
cp "$BUILD/$flavour/fakeclr/full/mscoree.dll" "$WINEPREFIX/drive_c/windows/$system/mscoree.dll"
echo "Starting build/$flavour/Corvane.exe ($what) with the simulated runtime:"
echo "Wine has no .NET runtime, so the simulated one answers the launcher's calls and stands in for the"
echo "demo's C# entry (make test runs that entry on Mono, the test EntrywayOnMono). What a user sees:"
WINEDLLOVERRIDES="mscoree=n" "$WINELOADER" "$BUILD/$flavour/tests/corvane-drive.exe" "$(winpath "$BUILD/$flavour/Corvane.exe")" \
    --env "TEMP=$(winpath "$demo/temp")" --env "TMP=$(winpath "$demo/temp")" \
    --env "CORVANE_FAKECLR_SCENARIO=$(winpath "$PWD/tests/demo/demo-app.scenario")" \
    --env "CORVANE_FAKECLR_LOG=$(winpath "$demo/clr.log")"
echo "Unpacked into $demo/temp/Skarnveld/Corvane/v1.1.1.33/ProductContentCache:"
(cd "$demo/temp/Skarnveld/Corvane/v1.1.1.33/ProductContentCache" && find . -type f | sort | sed 's/^/  /')
echo "Runtime calls the launcher made, and what the application did (full log: $demo/clr.log):"
grep -v -E '^(file |new |QueryInterface |Release |DllMain |process |scenario |runtime |GetVersionString|Next )|-> ' \
    "$demo/clr.log" | sed 's/^/  /'
