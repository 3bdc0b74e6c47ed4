#!/usr/bin/env python3
"""Prints the benchmark figures against their references and goals.

Usage: summary.py BENCH_JSON [CALLGRIND_RESULT]
BENCH_JSON is quill_bench's --benchmark_out file (run with repetitions). Figures are medians over
the repetitions: for goals 1 and 2 the paired benchmarks' own medians (plug-in and reference
timed in alternating chunks), for the per-call goals the CPU time per iteration, for creating,
closing and scanning the elapsed time. CALLGRIND_RESULT is the file that
bench/callgrind.sh writes.
"""
import json
import sys

SCALE_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def read_results(path):
    with open(path) as f:
        data = json.load(f)
    medians, runs = {}, {}
    for b in data["benchmarks"]:
        name = b["run_name"]
        if b.get("error_occurred"):
            raise SystemExit(f"{name}: {b.get('error_message')}")
        if b["run_type"] == "aggregate":
            if b["aggregate_name"] == "median":
                medians[name] = b
        else:
            runs.setdefault(name, []).append(b)
    # A run without repetitions has no aggregates: its single result is the median.
    for name, items in runs.items():
        if name not in medians and len(items) == 1:
            medians[name] = items[0]
    return data["context"], medians, runs


def cpu_ns(entry):
    return entry["cpu_time"] * SCALE_NS[entry["time_unit"]]


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit(__doc__)
    context, med, runs = read_results(sys.argv[1])
    rows = []
    missed = []

    def row(what, value, reference, ratio, goal, ok):
        rows.append((what, value, reference, ratio, goal, "ok" if ok else "MISSED"))
        if not ok:
            missed.append(what)

    def find(prefix):
        matches = [n for n in med if n == prefix or n.startswith(prefix + "/")]
        if not matches:
            raise SystemExit(f"no result for {prefix}")
        return med[matches[0]]

    # Goals 1 and 2 are judged on the paired benchmarks, which alternate the plug-in and its
    # reference chunk by chunk; the separate benchmarks are shown beside them.
    for block in (32, 1024, 8192):
        paired = find(f"BM_EmptyBlockPaired/block:{block}")
        ratio = paired["ratio"]
        row(f"1 block without a note, {block} samples", f"{paired['plugin_ns']:.2f} ns",
            f"{paired['reference_ns']:.2f} ns", f"{ratio:.2f}", "<= 2.00", ratio <= 2.0)
        plug = cpu_ns(find(f"BM_EmptyBlock/block:{block}"))
        ref = cpu_ns(find(f"BM_EmptyBlockReference/block:{block}"))
        row("  the same, separate benchmarks", f"{plug:.2f} ns", f"{ref:.2f} ns",
            f"{plug / ref:.2f}", "", True)

    paired = find("BM_DenseNotesPaired")
    row("2 note, densest setting (per note)", f"{paired['plugin_ns']:.1f} ns",
        f"{paired['reference_ns']:.1f} ns", f"{paired['ratio']:.2f}", "<= 1.50",
        paired["ratio"] <= 1.5)
    dense = find("BM_DenseNotes")
    dense_ref = find("BM_DenseNotesReference")
    note = cpu_ns(dense) / dense["notes_per_block"]
    note_ref = cpu_ns(dense_ref) / dense_ref["notes_per_block"]
    row("  the same, separate benchmarks", f"{note:.1f} ns", f"{note_ref:.1f} ns",
        f"{note / note_ref:.2f}", "", True)

    worst_runs = [r for n, items in runs.items() if n.startswith("BM_DenseWorstBlock")
                  for r in items]
    budget = 64 / 96000 * 1e6

    # Each repetition times every one of its blocks; its worst block is its figure, and the
    # median over the repetitions is reported, beside the worst block of all repetitions. The
    # reference (a call that returns at once, timed the same way right after each block) shows
    # what the machine adds by itself.
    def median(values):
        values = sorted(values)
        middle = len(values) // 2
        return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2

    def worst_row(what, key, pick, goal=""):
        v = pick([r[key] for r in worst_runs])
        ref = pick([r["reference_" + key] for r in worst_runs])
        ok = v < budget if goal else True
        row(what, f"{v:.2f} us", f"{ref:.2f} us", f"{100 * v / budget:.2f}%", goal, ok)

    rows.append(("2 dense 64-sample blocks at 96 kHz (667 us)", "", "", "of 667 us", "", ""))
    worst_row("  worst block, CPU time", "cpu_worst_us", median, "< 100%")
    worst_row("  worst block of all repetitions, CPU time", "cpu_worst_us", max)
    worst_row("  99.99th percentile, CPU time", "cpu_p99_99_us", median)
    worst_row("  median block, CPU time", "cpu_median_us", median)
    own = median([r["cpu_median_us"] - r["reference_cpu_median_us"] for r in worst_runs])
    row("  median block less the reference's median", f"{own:.3f} us", "",
        f"{100 * own / budget:.3f}%", "", True)
    worst_row("  worst block, wall clock", "wall_worst_us", median)
    worst_row("  99.99th percentile, wall clock", "wall_p99_99_us", median)

    def real_ns(entry):
        return entry["real_time"] * SCALE_NS[entry["time_unit"]]

    create = find("BM_CreateClose")
    row("3 create + close (main, effClose)", f"{real_ns(create) / 1e3:.2f} us",
        f"{cpu_ns(create) / 1e3:.2f} cpu", "", "", True)
    scan = find("BM_HostScan")
    row("3 host scan (dlopen ... dlclose)", f"{real_ns(scan) / 1e3:.1f} us",
        f"{cpu_ns(scan) / 1e3:.1f} cpu", f"{real_ns(scan) / 1e6:.2f}", "< 1 ms",
        real_ns(scan) < 1e6)
    loader = find("BM_LoadUnload")
    row("  of which dlopen + dlsym + dlclose alone", f"{real_ns(loader) / 1e3:.1f} us",
        f"{cpu_ns(loader) / 1e3:.1f} cpu", f"{real_ns(loader) / real_ns(scan):.2f}", "", True)

    for op in ("BM_SetParameter", "BM_GetParamDisplay"):
        for index in range(7):
            entries = runs[f"{op}/index:{index}"]
            allocs = max(e["allocs"] for e in entries)
            t = cpu_ns(find(f"{op}/index:{index}"))
            label = "setParameter" if op == "BM_SetParameter" else "effGetParamDisplay"
            row(f"4 {label} index {index}", f"{t:.1f} ns", f"{allocs:.0f} allocs",
                f"{t / 200:.2f}", "< 200 ns, 0", t < 200 and allocs == 0)

    width = max(len(r[0]) for r in rows)
    header = ("measurement", "value", "reference", "ratio", "goal", "")
    print()
    print(f"Machine: {context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz, "
          f"load average {context.get('load_avg')}")
    print(f"{header[0]:<{width}}  {header[1]:>11}  {header[2]:>11}  {header[3]:>7}  "
          f"{header[4]:>10}")
    for r in rows:
        print(f"{r[0]:<{width}}  {r[1]:>11}  {r[2]:>11}  {r[3]:>7}  {r[4]:>10}  {r[5]}")

    if len(sys.argv) == 3:
        figures = {}
        with open(sys.argv[2]) as f:
            for line in f:
                name, value = line.split()
                figures[name] = float(value)
        print()
        print("5 instructions (callgrind, host callback's body excluded):")
        ref = figures["empty_reference"]
        for block in (32, 1024, 8192):
            v = figures[f"empty_{block}"]
            print(f"  per block without a note, {block:>4} samples: {v:8.1f}"
                  f"   reference {ref:.1f}   ratio {v / ref:.2f}")
        v, ref = figures["note"], figures["note_reference"]
        print(f"  per note, densest setting:              {v:8.1f}"
              f"   reference {ref:.1f}   ratio {v / ref:.2f}")
        if "worst_block_64" in figures:
            print(f"  worst dense 64-sample block at 96 kHz:  {figures['worst_block_64']:8.0f}"
                  f"   ({figures['worst_block_64_notes']:.0f} notes, host callback included)")

    print("Paired rows (1, 2): value and reference are medians of each side; the ratio is the")
    print("median of the ratios of chunks timed back to back, which load cannot tilt.")
    print()
    if missed:
        print("Goals missed: " + "; ".join(missed))
    else:
        print("All goals met.")


if __name__ == "__main__":
    main()
