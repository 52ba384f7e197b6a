#!/usr/bin/env bash
# Runs every test: the pack tool's (native, with Wine's ITStorage) and the launcher's (under Wine), then
# prints one closing line with the counts of both.
set -uo pipefail
BUILD=${BUILD:-$(pwd)/build}

passed=0
failed=0
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
        passed=$((passed + t - f))
        failed=$((failed + f))
    fi
    [ "$rc" -eq 0 ] || status=1
    rm -f "$log"
}
run_ctest "$BUILD/host"
run_ctest "$BUILD/win64"
echo "$passed passed, $failed failed"
exit $status
