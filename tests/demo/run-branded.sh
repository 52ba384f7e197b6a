#!/usr/bin/env bash
# make run CONTENT=...: builds a launcher around the caller's own application folder with the caller's
# names (MAKER, PRODUCT, VERSION, ENTRY_ASSEMBLY, ENTRY_TYPE, ENTRY_METHOD, and any of the build's CORVANE_*
# variables; any left out keep the defaults), checks the pack inside it against the folder, starts it under
# the driver with the simulated runtime standing in for .NET, shows what a user sees and the unpacked tree,
# then runs the real entry on Mono over that tree when Mono can.
# FLAVOUR=win32 (the default) builds the 32-bit launcher users get; FLAVOUR=win64 the 64-bit one.
set -euo pipefail
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
flavour=${FLAVOUR:-win32}
case $flavour in
    win32) system=syswow64 toolchain=mingw-i686.cmake ;;
    win64) system=system32 toolchain=mingw-x86_64.cmake ;;
    *) echo "FLAVOUR is win32 or win64" >&2; exit 2 ;;
esac
[ -d "$CONTENT" ] || { echo "CONTENT: there is no folder at $CONTENT" >&2; exit 2; }
out=$BUILD/branded-$flavour
args=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$toolchain" -DCORVANE_TESTS=OFF -DCORVANE_PACK_TOOL="$BUILD/host/corvane-pack"
      -DCORVANE_CONTENT_DIR="$(realpath "$CONTENT")")
# The build's own variables (set( ... CACHE ...) in CMakeLists.txt) from the environment, but those set here.
for name in $(tr '\n' ' ' <CMakeLists.txt | grep -o 'set(CORVANE_[A-Z0-9_]* [^)]*CACHE' | sed 's/set(\([A-Z0-9_]*\) .*/\1/'); do
    case $name in CORVANE_CONTENT_DIR | CORVANE_PACK_TOOL) continue ;; esac
    if [ -n "${!name:-}" ]; then args+=("-D$name=${!name}"); fi
done
for name in MAKER PRODUCT VERSION ENTRY_ASSEMBLY ENTRY_TYPE ENTRY_METHOD; do
    if [ -n "${!name:-}" ]; then args+=("-DCORVANE_$name=${!name}"); fi
done
cmake -S . -B "$out" "${args[@]}" >/dev/null
cmake --build "$out" --target Corvane -j "${JOBS:-2}" >/dev/null
setting() { sed -n "s/^CORVANE_$1:[A-Z]*=//p" "$out/CMakeCache.txt"; }
maker=$(setting MAKER) product=$(setting PRODUCT) version=$(setting VERSION)
assembly=$(setting ENTRY_ASSEMBLY) type=$(setting ENTRY_TYPE) method=$(setting ENTRY_METHOD)
echo "The pack inside $out/$product.exe against $CONTENT:"
"$BUILD/host/corvane-pack" --verify "$out/$product.exe" "$(realpath "$CONTENT")" \
    --pack-id "$(setting PACK_ID)" --digests-id "$(setting DIGESTS_ID)"

run=$out/run
rm -rf "$run"
mkdir -p "$run/temp"
printf '%s\n' "# The simulated runtime stands in for .NET: it calls nothing of the application's code." \
    "entry.method = $method" "entry.messagebox = \"$product is running: the launcher unpacked it and called $method.\"" \
    "entry.messagebox.caption = $product" "entry.splash = destroy" "entry.result = i4:0" >"$run/app.scenario"
cp "$BUILD/$flavour/fakeclr/full/mscoree.dll" "$WINEPREFIX/drive_c/windows/$system/mscoree.dll"
echo "Starting $out/$product.exe under Wine with the simulated runtime. What a user sees:"
WINEDLLOVERRIDES="mscoree=n" "$WINELOADER" "$BUILD/$flavour/tests/corvane-drive.exe" "$(winpath "$out/$product.exe")" \
    --env "TEMP=$(winpath "$run/temp")" --env "TMP=$(winpath "$run/temp")" \
    --env "CORVANE_FAKECLR_SCENARIO=$(winpath "$run/app.scenario")" --env "CORVANE_FAKECLR_LOG=$(winpath "$run/clr.log")"
cache=$run/temp/$maker/$product/v$version/ProductContentCache
echo "Unpacked into $cache:"
(cd "$cache" && find . -type f | sort | sed 's/^/  /')
host=$BUILD/$flavour/tests/mono/EntrywayHost.exe
if command -v mono >/dev/null && [ -f "$host" ]; then
    echo "The real entry on Mono over that tree (as the launcher calls it: domain, load, type, method):"
    status=0
    mono "$host" "$cache" "$product" "$assembly" "$type" "$method" || status=$?
    case $status in
        0) ;;
        3) echo "(Mono could not run the entry: see above)" ;;
        *) echo "(the run on Mono failed a check: see above)" ;;
    esac
fi
