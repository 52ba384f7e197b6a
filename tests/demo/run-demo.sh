#!/usr/bin/env bash
# Starts Corvane.exe on the embedded demo under the driver, with the simulated runtime standing in for
# .NET, and prints what a user sees: the splash window, each box with its text, and the exit code.
set -euo pipefail
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
demo=$BUILD/demo
mkdir -p "$demo/temp"
cp "$BUILD/win64/fakeclr/full/mscoree.dll" "$WINEPREFIX/drive_c/windows/system32/mscoree.dll"
rm -f "$demo/clr.log"
echo "Starting build/win64/Corvane.exe (the 64-bit build of the launcher: this machine cannot run 32-bit"
echo "programs, see README) with the simulated runtime: Wine has no .NET runtime, so the simulated one answers"
echo "the launcher's calls and stands in for the demo's C# entry (make test runs that entry on Mono, the test"
echo "EntrywayOnMono). What a user sees:"
WINEDLLOVERRIDES="mscoree=n" "$WINELOADER" "$BUILD/win64/tests/corvane-drive.exe" "$(winpath "$BUILD/win64/Corvane.exe")" \
    --env "TEMP=$(winpath "$demo/temp")" --env "TMP=$(winpath "$demo/temp")" \
    --env "CORVANE_FAKECLR_SCENARIO=$(winpath "$PWD/tests/demo/demo-app.scenario")" \
    --env "CORVANE_FAKECLR_LOG=$(winpath "$demo/clr.log")"
echo "Unpacked into $demo/temp/Skarnveld/Corvane/v1.1.1.33/ProductContentCache:"
(cd "$demo/temp/Skarnveld/Corvane/v1.1.1.33/ProductContentCache" && find . -type f | sort | sed 's/^/  /')
echo "Runtime calls the launcher made, and what the application did (full log: $demo/clr.log):"
grep -v -E '^(file |new |QueryInterface |Release |DllMain |process |scenario |runtime |GetVersionString|Next )|-> ' \
    "$demo/clr.log" | sed 's/^/  /'
