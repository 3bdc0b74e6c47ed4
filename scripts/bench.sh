#!/usr/bin/env bash
# Builds the plug-in and the benchmarks in Release into build-bench, runs every benchmark with
# repetitions and the callgrind instruction counts, and prints each figure against its reference
# and its goal. Usage: scripts/bench.sh [repetitions]   (default 5; results in build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-5}
build=build-bench

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_BENCH=ON \
    -DQUILL_BUILD_TESTS=OFF -DQUILL_BUILD_TOOL=OFF -DQUILL_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target quillmont quill_bench quill_callgrind_driver

echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/quill_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$build/bench.json" --benchmark_out_format=json
echo
bash bench/callgrind.sh "$build" "$build/callgrind.txt"
python3 bench/summary.py "$build/bench.json" "$build/callgrind.txt"
