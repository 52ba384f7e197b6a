#!/bin/sh
# Runs an end-to-end test program as cmake/wine-run.sh does, with Wine's standard error in a file that
# the program reads through CORVANE_WINE_STDERR (a Unix path): Wine prints a process's debug channels
# (the event log's lines among them) on the Unix standard error it inherited from its parent, whatever
# standard error handle the parent passed, so the launchers a test starts print there only. The file goes
# to the real standard error afterwards.
log=$(mktemp)
CORVANE_WINE_STDERR=$log "${WINELOADER:?run it inside tests/run-in-wine.sh}" "$@" 2>"$log"
rc=$?
cat "$log" >&2
rm -f "$log"
exit $rc
