#!/usr/bin/env bash
# Starts the launcher under Wine with the simulated runtime, so that it unpacks its pack through Wine's
# ITStorage into a scratch TEMP, then runs the demo in that tree on Mono through EntrywayHost.exe.
# Usage: check-entryway.sh BUILD_DIR SYSTEM_FOLDER HOST_EXE MAKER PRODUCT VERSION ASSEMBLY TYPE METHOD SECOND_ASSEMBLY
set -euo pipefail
build=$1 system=$2 host=$3 maker=$4 product=$5 version=$6
shift 6
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
temp=$build/test-tmp/entryway-on-mono
rm -rf "$temp"
mkdir -p "$temp"
cp "$build/fakeclr/full/mscoree.dll" "$WINEPREFIX/drive_c/windows/$system/mscoree.dll"
transcript=$(WINEDLLOVERRIDES="mscoree=n" "$WINELOADER" "$build/tests/corvane-drive.exe" "$(winpath "$build/$product.exe")" \
    --env "TEMP=$(winpath "$temp")" --env "TMP=$(winpath "$temp")")
echo "$transcript"
grep -q '^exit code 0x00000000 ' <<<"$transcript" || { echo "the launcher did not end with 0"; exit 1; }
CORVANE_DEMO_HEADLESS=1 mono "$host" "$temp/$maker/$product/v$version/ProductContentCache" "$product" "$@"
