#!/usr/bin/env bash
# Builds the host-action fuzzer with clang in build-fuzz and runs it for a bounded time from the
# committed seed corpus, then prints the total executions.
# Usage: scripts/fuzz.sh [seconds]   (default 120; long runs: scripts/fuzz.sh 3600)
# New inputs go to build-fuzz/corpus (not committed); crashes to build-fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-120}"
build=build-fuzz

# A clang whose libFuzzer runtime is installed (Debian: clang and libclang-rt-dev, or the
# versioned clang-N and libclang-rt-N-dev).
pick_clang() {
    local candidate
    for candidate in clang++-19 clang++-18 clang++-17 clang++-16 clang++-15 clang++-14 clang++; do
        if command -v "$candidate" >/dev/null 2>&1 &&
            "$candidate" -print-file-name=libclang_rt.fuzzer-x86_64.a | grep -q /; then
            echo "$candidate"
            return
        fi
    done
}
cxx="$(pick_clang)"
if [ -z "$cxx" ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null
    cxx="$(pick_clang)"
fi
if [ -z "$cxx" ]; then
    echo "fuzz.sh: no clang with libFuzzer found" >&2
    exit 1
fi
cc="${cxx/clang++/clang}"

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DQUILL_BUILD_TESTS=OFF -DQUILL_BUILD_TOOL=OFF -DQUILL_BUILD_FUZZ=ON -DQUILL_WERROR=ON >/dev/null
cmake --build "$build" --target quill_fuzz_host -j2

mkdir -p "$build/corpus" "$build/artifacts"
log="$build/fuzz.log"
echo "Fuzzing for ${seconds} s (log: $log)"
status=0
"$build/quill_fuzz_host" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$build/artifacts/" "$build/corpus" fuzz/corpus \
    >"$log" 2>&1 || status=$?

runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' | tail -1)
coverage=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 || true)
echo "fuzz: ${runs:-unknown} executions in ${seconds} s, ${coverage:-cov unknown}, exit status $status"
if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|host check failed|runtime error|Test unit written' "$log" | head -20 || true
    tail -40 "$log"
fi
exit "$status"
