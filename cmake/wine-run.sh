#!/bin/sh
# Runs a Windows program of a build through the test prefix's loader (set by tests/run-in-wine.sh), which
# starts 64-bit programs natively and 32-bit ones under CPU emulation.
exec "${WINELOADER:?run it inside tests/run-in-wine.sh}" "$@"
