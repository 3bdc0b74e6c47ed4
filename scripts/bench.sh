#!/usr/bin/env bash
# Builds the plug-in and the benchmarks in Release into build-bench, runs every benchmark with
# repetitions and the callgrind instruction counts, and prints each figure against its reference
# and its goal.
#   scripts/bench.sh [repetitions]      default 5; results in build-bench/
# QUILL_BENCH_BUILD_TYPE=RelWithDebInfo measures that build instead (in build-bench-relwithdebinfo).
# Run it on a quiet machine: the script prints the load average before it starts.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-5}
build_type=${QUILL_BENCH_BUILD_TYPE:-Release}
build=build-bench
if [ "$build_type" != Release ]; then
    build=build-bench-$(echo "$build_type" | tr '[:upper:]' '[:lower:]')
fi

for tool in valgrind python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench.sh: $tool is missing (apt-get install $tool)" >&2
        exit 1
    fi
done

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DQUILL_BUILD_BENCH=ON \
    -DQUILL_BUILD_TESTS=OFF -DQUILL_BUILD_TOOL=OFF -DQUILL_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target quillmont quill_bench quill_callgrind_driver

echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) CPUs"
"$build/quill_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$build/bench.json" --benchmark_out_format=json
echo
bash bench/callgrind.sh "$build" "$build/callgrind.txt"
python3 bench/summary.py "$build/bench.json" "$build/callgrind.txt"
