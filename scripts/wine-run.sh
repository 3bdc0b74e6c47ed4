#!/usr/bin/env bash
# Runs one Windows test program under Wine: the test emulator of the MinGW builds.
#
# Two failures that come from Wine, not from the program, are retried (twice at most):
#
# - Now and then Wine fails to start a process at all: the program ends at once with a failure
#   status and without a line of its own. A GoogleTest program always begins its output with
#   "Running main() from", which tells the two apart.
# - Under 32-bit Wine on qemu-i386 (QEMU_SET_ENV set, see platforms.sh) a program sometimes passes
#   all its tests and then dies of a signal while exiting. When a process exits, Wine ends its
#   other threads with SIGQUIT; a thread that Wine is still starting takes it before it has set
#   its %gs, and Wine's handler then faults. Natively that window is a few instructions wide;
#   qemu makes it wide enough to hit about once in 600 programs. Only a run that printed
#   GoogleTest's final "[  PASSED  ]" line and then died of a signal is retried; a test that
#   failed, or a crash before the tests ended, fails as it is.
#
# Each retry is reported on stderr and, if QUILL_WINE_RETRY_LOG names a file, as a line there.
#
# Usage: wine-run.sh COMMAND...   (e.g. env WINEPREFIX=... wine64 frame_tests.exe --gtest_filter=...)
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# Why this run should be retried, or nothing when its result stands.
retry_reason() {
    local status=$1
    [ "$status" -eq 0 ] && return
    if ! grep -q '^Running main() from' "$out"; then
        echo "the program did not start"
    elif [ -n "${QEMU_SET_ENV:-}" ] && [ "$status" -gt 128 ] && grep -q '^\[  PASSED  \]' "$out"; then
        echo "the program passed, then died of signal $((status - 128)) while exiting"
    fi
}

status=1
for attempt in 1 2 3; do
    "$@" >"$out" 2>&1
    status=$?
    reason=$(retry_reason "$status")
    if [ -z "$reason" ] || [ "$attempt" -eq 3 ]; then
        cat "$out"
        exit "$status"
    fi
    echo "wine-run.sh: attempt $attempt: $reason (status $status):" >&2
    cat "$out" >&2
    if [ -n "${QUILL_WINE_RETRY_LOG:-}" ]; then
        echo "$reason: $*" >>"$QUILL_WINE_RETRY_LOG"
    fi
done
