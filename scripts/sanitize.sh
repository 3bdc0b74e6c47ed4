#!/usr/bin/env bash
# Runs every test suite under AddressSanitizer + UndefinedBehaviorSanitizer (preset asan-ubsan)
# and under ThreadSanitizer (preset tsan), then the host-action fuzzer for a bounded time, and
# prints a summary. Exits non-zero when any stage fails.
# Usage: scripts/sanitize.sh [fuzz-seconds]   (default 120)
set -uo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds="${1:-120}"
bash scripts/deps.sh build || exit 1

# A third-party host's scanner cannot load a module built with a sanitizer runtime (the runtime
# must be the first library of the process), so the Ardour scan runs only in the plain build.
exclude='ArdourScan\.'

summary=()
failed=0
mkdir -p build-logs

run_preset() {
    local preset="$1"
    local log="build-logs/sanitize-$preset.log"
    local start=$SECONDS
    echo "== $preset: configure, build, test (log: $log)"
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
        tail -30 "$log"
        summary+=("$preset: build FAILED")
        failed=1
        return
    fi
    local status=0
    ctest --preset "$preset" -E "$exclude" >>"$log" 2>&1 || status=$?
    local result
    result=$(grep -E 'tests passed|tests failed' "$log" | tail -1)
    if [ "$status" -ne 0 ]; then
        grep -E 'Failed|\*\*\*|ERROR: AddressSanitizer|runtime error|WARNING: ThreadSanitizer' "$log" |
            head -30
        failed=1
    fi
    summary+=("$preset: ${result:-no result} ($((SECONDS - start)) s)")
}

run_preset asan-ubsan
run_preset tsan

echo "== fuzz: ${fuzz_seconds} s"
fuzz_log=build-logs/sanitize-fuzz.log
bash scripts/fuzz.sh "$fuzz_seconds" >"$fuzz_log" 2>&1
fuzz_status=$?
fuzz_line=$(grep -E '^fuzz:' "$fuzz_log" | tail -1)
if [ "$fuzz_status" -ne 0 ]; then
    tail -40 "$fuzz_log"
    failed=1
fi
summary+=("${fuzz_line:-fuzz: FAILED before running (see $fuzz_log)}")

echo
echo "== sanitizer summary"
for line in "${summary[@]}"; do
    echo "  $line"
done
exit "$failed"
