#!/usr/bin/env bash
# Counts the instructions of the audio thread's hot paths with callgrind, beside their references:
#   - a block without a note through processReplacing (32, 1024 and 8192 samples), against a
#     processing function that returns at once, called the same way;
#   - a note at the densest setting (a note every 10 samples, 44.1 kHz, 1024-sample blocks),
#     against two host calls and two draws of the random factor;
#   - the worst of 50 consecutive 64-sample blocks at 96 kHz at the densest setting, each block
#     profiled on its own (here with the callback's body, see worst_block).
# Only the driver's measured loop is counted, and in it not the host callback's own body. Each
# figure is the difference between a run of 2N units and a run of N units, divided by the
# difference in units, so that setup and the loop's entry fall out. Instruction counts do not
# depend on the machine's load: the same build gives the same numbers on every run.
#
# Usage: bench/callgrind.sh [BUILD_DIR] [RESULT_FILE]
#   BUILD_DIR    holds quill_callgrind_driver and quillmont.so (default: build-bench)
#   RESULT_FILE  also write the figures there as "name value" lines
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
result=${2:-}
driver=$build/quill_callgrind_driver
if ! command -v valgrind >/dev/null; then
    echo "callgrind.sh: valgrind is missing (apt-get install valgrind)" >&2
    exit 1
fi
if [ ! -x "$driver" ]; then
    echo "callgrind.sh: $driver is missing; build the benchmarks first (scripts/bench.sh)" >&2
    exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Prints "units instructions" for one run of the driver.
measure() {
    local mode=$1 count=$2 out units total
    out=$scratch/$mode.$count
    units=$(valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect=quill_bench_measured --toggle-collect=quill_bench_host \
        "$driver" "$mode" "$count" 2>"$out.log" | awk '$1 == "units" { print $2 }') || {
        cat "$out.log" >&2
        exit 1
    }
    total=$(awk '$1 == "totals:" { print $2 }' "$out")
    echo "$units $total"
}

# Instructions per unit: (I(2N) - I(N)) / (U(2N) - U(N)).
per_unit() {
    local mode=$1 count=$2 small large
    small=$(measure "$mode" "$count")
    large=$(measure "$mode" $((2 * count)))
    awk -v s="$small" -v l="$large" 'BEGIN {
        split(s, a, " "); split(l, b, " ");
        printf "%.1f", (b[2] - a[2]) / (b[1] - a[1]) }'
}

declare -A figure
for length in 32 1024 8192; do
    figure[empty_$length]=$(per_unit "empty-$length" 2000)
done
figure[empty_reference]=$(per_unit empty-reference 2000)
figure[note]=$(per_unit notes 100)
figure[note_reference]=$(per_unit notes-reference 100)

# The worst dense block: 64 samples at 96 kHz, a note every 10 samples, one profile dumped per
# block, the largest total taken. This one counts the host callback's body too (a few
# instructions per event): callgrind does not keep a nested toggle across its dumps.
worst_block() {
    local out=$scratch/dense-64 max_notes
    max_notes=$(valgrind --tool=callgrind --callgrind-out-file="$out.%p" --collect-atstart=no \
        --toggle-collect=quill_bench_measured \
        --dump-after=quill_bench_measured "$driver" dense-64 50 2>"$out.log" |
        awk '$1 == "max_notes" { print $2 }') || {
        cat "$out.log" >&2
        exit 1
    }
    awk -v notes="$max_notes" '$1 == "totals:" && $2 > max { max = $2 }
        END { printf "%d %d\n", max, notes }' "$out".[0-9]*
}
read -r worst_instructions worst_notes < <(worst_block)
figure[worst_block_64]=$worst_instructions
figure[worst_block_64_notes]=$worst_notes

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-44s %10s %10s %7s\n' "instructions (callgrind)" "plug-in" "reference" "ratio"
for length in 32 1024 8192; do
    printf '%-44s %10s %10s %7s\n' "per block without a note, $length samples" \
        "${figure[empty_$length]}" "${figure[empty_reference]}" \
        "$(ratio "${figure[empty_$length]}" "${figure[empty_reference]}")"
done
printf '%-44s %10s %10s %7s\n' "per note, densest setting" "${figure[note]}" \
    "${figure[note_reference]}" "$(ratio "${figure[note]}" "${figure[note_reference]}")"
printf '%-44s %10s   (%s notes)\n' "worst 64-sample block at 96 kHz, densest" \
    "${figure[worst_block_64]}" "${figure[worst_block_64_notes]}"

if [ -n "$result" ]; then
    for name in "${!figure[@]}"; do
        echo "$name ${figure[$name]}"
    done | sort >"$result"
fi
