#!/usr/bin/env bash
# Runs a Windows test program of a build through the test prefix's loader (set by tests/run-in-wine.sh),
# which starts 64-bit programs natively and 32-bit ones under CPU emulation.
#
# Wine's standard error goes to a file that the program reads through CORVANE_WINE_STDERR (a Unix path):
# Wine prints a process's debug channels (the event log's lines among them) on the Unix standard error it
# inherited from its parent, whatever standard error handle the parent passed, so the launchers a test
# starts print there only. The file goes to the real standard error afterwards.
#
# Once in a CI run Wine ended a test program with an error before it printed anything, after 0.03 s where
# starting any program takes 0.07 s: the program never ran. Such a start is made again, twice at most, and
# said on standard error and in the file CORVANE_RESTARTS names, if any; a program that printed anything
# keeps its result.
set -u
out=$(mktemp) && err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
    CORVANE_WINE_STDERR=$err "${WINELOADER:?run it inside tests/run-in-wine.sh}" "$@" 2>"$err" | tee "$out"
    rc=${PIPESTATUS[0]}
    cat "$err" >&2
    if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 3 ]; then exit "$rc"; fi
    restart="wine-run.sh: $* ended with status $rc before printing anything; started again"
    echo "$restart" >&2
    [ -z "${CORVANE_RESTARTS:-}" ] || echo "$restart" >>"$CORVANE_RESTARTS"
done
