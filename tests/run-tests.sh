#!/usr/bin/env bash
# Runs every test: the pack tool's (native, with Wine's ITStorage) and the launcher's (under Wine), then
# prints one closing line with the counts of both.
set -uo pipefail
BUILD=${BUILD:-$(pwd)/build}

# Two small disks for the tests of failed writes: one too small for the pack file, one that takes the
# pack but not the whole unpacked tree. Mounting needs root; without them those tests are skipped.
disks=()
for flavour in win32 win64; do
    for size in 64k 128k; do
        dir="$BUILD/$flavour/test-disk-$size"
        mkdir -p "$dir"
        if mountpoint -q "$dir" || mount -t tmpfs -o "size=$size" tmpfs "$dir" 2>/dev/null; then disks+=("$dir"); fi
    done
done
# Test programs that Wine ended before they ran are started again (cmake/wine-run.sh); each time is listed
# at the end, whatever the tests' results.
CORVANE_RESTARTS=$(mktemp)
export CORVANE_RESTARTS
clean_up() {
    for dir in "${disks[@]}"; do umount "$dir" 2>/dev/null || true; done
    rm -f "$CORVANE_RESTARTS"
}
trap clean_up EXIT

passed=0
failed=0
skipped=0
status=0
run_ctest() {
    local dir=$1 log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure --timeout 600 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [ -n "$line" ]; then
        local f t
        f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
        t=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
        local s
        s=$(grep -c -E 'Skipped +[0-9.]+ sec$' "$log" || true)
        passed=$((passed + t - f - s))
        failed=$((failed + f))
        skipped=$((skipped + s))
    fi
    [ "$rc" -eq 0 ] || status=1
    rm -f "$log"
}
run_ctest "$BUILD/host"
# The product users get: the 32-bit build, its unit and end-to-end tests, all under CPU emulation.
run_ctest "$BUILD/win32"
# The same sources built for 64 bits, the second flavour.
run_ctest "$BUILD/win64"
[ ! -s "$CORVANE_RESTARTS" ] || cat "$CORVANE_RESTARTS"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
