#!/usr/bin/env bash
# Runs one Windows test program under Wine: the test emulator of the MinGW builds.
#
# Now and then Wine fails to start a process at all: the program ends at once with a failure
# status and without a line of its own. Such a start is retried (twice at most); a test program
# that started and failed is not. A GoogleTest program always begins its output with
# "Running main() from", which tells the two apart.
#
# Usage: wine-run.sh COMMAND...   (e.g. env WINEPREFIX=... wine64 frame_tests.exe --gtest_filter=...)
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=1
for attempt in 1 2 3; do
    "$@" >"$out" 2>&1
    status=$?
    if [ "$status" -eq 0 ] || grep -q '^Running main() from' "$out"; then
        cat "$out"
        exit "$status"
    fi
    echo "wine-run.sh: attempt $attempt: the program did not start (status $status):" >&2
    cat "$out" >&2
done
exit "$status"
