#!/usr/bin/env bash
# Regenerates the pictures in docs/ from the plug-in's own output, and checks that output
# against the ranges the generator promises.
#
# Usage: scripts/make-pictures.sh [--check-only] [--build-dir DIR] [--quill FILE]
#
#   --check-only    render and check only; draw nothing (gnuplot is then not needed)
#   --build-dir DIR build the plug-in and quill there (default: build-pictures)
#   --quill FILE    use this quill and the quillmont.so beside it instead of building
#
# Every picture comes from `quill render --csv`, which is deterministic, and gnuplot's
# pngcairo terminal, so a rerun on the same machine writes the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

check_only=0
build_dir=build-pictures
quill=""
while [ $# -gt 0 ]; do
    case "$1" in
    --check-only) check_only=1 ;;
    --build-dir)
        build_dir=${2:?--build-dir needs a directory}
        shift
        ;;
    --quill)
        quill=${2:?--quill needs a file}
        shift
        ;;
    -h | --help)
        sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "make-pictures.sh: unknown argument '$1' (see --help)" >&2
        exit 2
        ;;
    esac
    shift
done

# ---------------------------------------------------------------------------------------
# Tools and build

install_packages() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: $*"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "$@" >/dev/null
}

if [ -z "$quill" ]; then
    bash scripts/deps.sh build
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build_dir" -j"${JOBS:-2}" --target quillmont quill >/dev/null
    quill="$build_dir/quill"
fi
[ -x "$quill" ] || {
    echo "make-pictures.sh: $quill is not an executable quill" >&2
    exit 2
}
if [ "$check_only" -eq 0 ] && ! command -v gnuplot >/dev/null; then
    install_packages gnuplot-nox
fi

work="$(dirname "$quill")/pictures"
rm -rf "$work"
mkdir -p "$work"

# ---------------------------------------------------------------------------------------
# Renders. All at 44100 Hz in 1024-sample blocks (quill's defaults).

rate=44100
long_seconds=10000 # about 15800 notes at the defaults
roll_seconds=20
dense_max=0.2  # Max time, 200 ms
dense_min=0.05 # Min time, 50 ms

"$quill" render --seconds "$long_seconds" --csv >"$work/long.csv"
"$quill" render --seconds "$roll_seconds" --csv >"$work/defaults.csv"
"$quill" render --seconds "$roll_seconds" --csv \
    --set "Max time=$dense_max" --set "Min time=$dense_min" >"$work/dense.csv"

# One line per note: sample, velocity, interval since the previous note (since sample 0 for
# the first note), end of the note (the next note's sample, or the end of the render).
# Fails unless every note is a velocity-0 note-on followed by the note at the same sample,
# both note-ons (144) on key 60.
notes() { # csv end_sample
    awk -F, -v end="$2" '
        NR == 1 { next }
        NR % 2 == 0 {
            if ($7 != 0) { printf "line %d: expected the velocity-0 event, got velocity %s\n", NR, $7 > "/dev/stderr"; bad = 1; exit }
            off = $2; next
        }
        {
            if ($2 != off) { printf "line %d: note at %s, its velocity-0 event at %s\n", NR, $2, off > "/dev/stderr"; bad = 1; exit }
            if ($5 != 144 || $6 != 60) { printf "line %d: status %s key %s, expected 144 and 60\n", NR, $5, $6 > "/dev/stderr"; bad = 1; exit }
            n++; s[n] = $2; v[n] = $7
        }
        END {
            if (bad) exit 1
            if (NR % 2 == 0) { print "a velocity-0 event without its note at the end" > "/dev/stderr"; exit 1 }
            prev = 0
            for (i = 1; i <= n; i++) {
                stop = (i < n) ? s[i + 1] : end
                print s[i], v[i], s[i] - prev, stop
                prev = s[i]
            }
        }' "$1"
}
notes "$work/long.csv" $((long_seconds * rate)) >"$work/long.notes"
notes "$work/defaults.csv" $((roll_seconds * rate)) >"$work/defaults.notes"
notes "$work/dense.csv" $((roll_seconds * rate)) >"$work/dense.notes"

# ---------------------------------------------------------------------------------------
# Checks: what the pictures show must be what the generator promises.
#
# An interval is truncate(r * (maxIntervalSamples - minT) + minT) and a velocity
# truncate(r * (maxV - minV) + minV), r = exp(-U/32767) with U uniform on 0..32767: r lies in
# [1/e, 1] with density 1/r, so the share of draws at or below x is 1 + ln x.

check() { # notes-file label first-note interval-lo interval-hi velocity-lo velocity-hi
    awk -v label="$2" -v first="$3" -v ilo="$4" -v ihi="$5" -v vlo="$6" -v vhi="$7" '
        function fail(msg) { printf "FAIL %s: %s\n", label, msg; failed = 1 }
        {
            n++
            if (n < first) next
            m++
            if (m == 1 || $3 < imin) imin = $3
            if (m == 1 || $3 > imax) imax = $3
            if (m == 1 || $2 < vmin) vmin = $2
            if (m == 1 || $2 > vmax) vmax = $2
            if ($3 <= 22050) i22++
            if ($3 <= 33075) i33++
            if ($2 <= 63) v63++
        }
        END {
            printf "%-9s %6d notes  intervals %5d..%5d samples (bounds %d..%d)  velocities %3d..%3d (bounds %d..%d)\n",
                label, m, imin, imax, ilo, ihi, vmin, vmax, vlo, vhi
            if (m < 20) fail(sprintf("only %d notes", m))
            if (imin < ilo || imax > ihi)
                fail(sprintf("intervals %d..%d samples, outside %d..%d", imin, imax, ilo, ihi))
            if (vmin < vlo || vmax > vhi)
                fail(sprintf("velocities %d..%d, outside %d..%d", vmin, vmax, vlo, vhi))
            if (label != "defaults") exit failed
            # Thousands of notes reach both ends of each range ...
            span = ihi - ilo
            if (imin > ilo + 0.01 * span || imax < ihi - 0.01 * span)
                fail(sprintf("intervals %d..%d do not reach within 1%% of both bounds", imin, imax))
            if (vmin > vlo + 1 || vmax < vhi - 2)
                fail(sprintf("velocities %d..%d do not reach near both bounds", vmin, vmax))
            # ... with the shape 1 + ln x: share of intervals up to 22050 (x = 1/2) and up to
            # 33075 (x = 3/4), share of velocities up to 63 (127 r < 64, x = 64/127).
            split("22050 33075 63", at, " ")
            split(sprintf("%.4f %.4f %.4f", i22 / m, i33 / m, v63 / m), got, " ")
            split(sprintf("%.4f %.4f %.4f", 1 + log(0.5), 1 + log(0.75), 1 + log(64 / 127)), want, " ")
            for (k = 1; k <= 3; k++) {
                what = (k < 3) ? "intervals" : "velocities"
                printf "          share of %s up to %5d: %.4f, expected %.4f\n", what, at[k], got[k], want[k]
                if (got[k] - want[k] > 0.02 || want[k] - got[k] > 0.02)
                    fail(sprintf("share of %s up to %d is %.4f, expected %.4f", what, at[k], got[k], want[k]))
            }
            exit failed
        }' "$1"
}

# Dense setting: maxIntervalSamples = truncate(44100 * 0.2) = 8820, minT = 44100 * 0.05 =
# 2205, so the intervals lie in truncate(2205 + (8820 - 2205) / e) = 4638 to 8820. The first
# interval was drawn when the plug-in was created, before Max time and Min time were set, so it
# follows the defaults and is left out.
status=0
check "$work/long.notes" defaults 1 16223 44100 46 127 || status=1
check "$work/defaults.notes" "20 s" 1 16223 44100 46 127 || status=1
check "$work/dense.notes" dense 2 4638 8820 46 127 || status=1
if [ "$status" -ne 0 ]; then
    echo "make-pictures.sh: the plug-in's output does not match what the pictures claim" >&2
    exit 1
fi
[ "$check_only" -eq 1 ] && exit 0

# ---------------------------------------------------------------------------------------
# Histogram data, at the defaults (Min time 0, maxIntervalSamples 44100, velocities 0..127).
#
# Intervals: t = r * (M - m) + m has density 1/(t - m) on [m + (M - m)/e, M], already
# normalised (its integral is ln e = 1). The 27878 whole values 16223..44100 make 53 bins of
# 526 samples, the last one closed.
awk -v M=44100 -v m=0 -v w=526 -v lo0=16223 -v nb=53 '
    { n++; b = int(($3 - lo0) / w); if (b >= nb) b = nb - 1; c[b]++ }
    END {
        lo = m + (M - m) * exp(-1)
        for (b = 0; b < nb; b++) {
            a = lo0 + b * w; z = (b == nb - 1) ? M : a + w
            # bin edges in ms, count, and the expected count N * integral of 1/(t - m)
            aa = (a < lo) ? lo : a
            printf "%.4f %.4f %d %.3f\n", a / 44.1, z / 44.1, c[b], n * log((z - m) / (aa - m))
        }
        printf "%d\n", n > "/dev/stderr"
    }' "$work/long.notes" >"$work/intervals.dat" 2>"$work/count"
count=$(cat "$work/count")

# Velocities: v = truncate(x), x = r * 127 with density 1/x on [127/e, 127]; the expected
# share of velocity k is the integral of 1/x over [k, k + 1) within that range.
awk '
    { c[$2]++ }
    END {
        lo = 127 * exp(-1); hi = 127
        for (k = 40; k <= 127; k++) {
            a = (k < lo) ? lo : k; z = (k + 1 > hi) ? hi : k + 1
            e = (z > a) ? NR * log(z / a) : 0
            printf "%d %d %.3f\n", k, c[k], e
        }
    }' "$work/long.notes" >"$work/velocities.dat"

# ---------------------------------------------------------------------------------------
# Pictures

mkdir -p docs
font="DejaVu Sans,10"

roll() { # notes-file output title
    gnuplot <<EOF
set terminal pngcairo size 1000,380 font "$font" noenhanced
set output "$2"
set multiplot title "$3"
set lmargin 11
set rmargin 3
set xrange [0:$roll_seconds]
set palette defined (0 "#f0f0f0", 46 "#9ecae1", 90 "#3182bd", 127 "#08306b")
set cbrange [0:127]

# Piano roll: every note lasts until the next one starts (one key, one note at a time).
set size 1,0.42
set origin 0,0.53
set yrange [57.5:62.5]
set ytics ("key 60" 60)
set format x ""
set grid xtics
unset colorbox
set style fill solid 1.0 border rgb "#202020"
plot "$1" using ((\$1+\$4)/2/$rate):(60):((\$4-\$1)/2/$rate):(0.4):2 with boxxyerror fc palette notitle

# Velocity lane.
set size 1,0.53
set origin 0,0
set yrange [0:135]
set ytics 0,32,127 add ("127" 127)
set format x "%g"
set xlabel "time (s)"
set ylabel "velocity"
set arrow 1 from 0,46 to $roll_seconds,46 nohead dt 2 lc rgb "#c03030"
set label 1 "46, the lowest velocity at these amplitudes" at $roll_seconds,46 offset -0.5,-0.7 right front tc rgb "#c03030"
plot "$1" using (\$1/$rate):2:2 with impulses lw 2 lc palette notitle, \
     "$1" using (\$1/$rate):2:2 with points pt 7 ps 0.6 lc palette notitle
unset multiplot
EOF
}

roll "$work/defaults.notes" docs/roll-defaults.png \
    "20 s at the defaults: Max time 1000 ms, Min time 0 ms, amplitudes 0..127, Note 60"
roll "$work/dense.notes" docs/roll-dense.png \
    "20 s with Max time 200 ms and Min time 50 ms (the first note still comes after the interval drawn at creation)"

gnuplot <<EOF
set terminal pngcairo size 900,460 font "$font" noenhanced
set output "docs/intervals.png"
set title "Intervals between notes at the defaults: $count notes from a ${long_seconds} s render at $rate Hz"
set xlabel "interval (ms); 16223..44100 samples = 367.9..1000 ms"
set ylabel "notes per bin of 526 samples (11.9 ms)"
set xrange [300:1040]
set yrange [0:*]
set key top right
set grid ytics
set style fill solid 0.6 border rgb "#406080"
lo = 44100 * exp(-1) / 44.1
f(x) = (x >= lo && x <= 1000) ? $count * 526 / (x * 44.1) : 1/0
set samples 1000
set label 1 "density at 368 ms: e = 2.72 times that at 1000 ms" at lo + 10, graph 0.06 left front
set arrow 1 from lo, graph 0 to lo, graph 1 nohead dt 2 lc rgb "#808080"
set arrow 2 from 1000, graph 0 to 1000, graph 1 nohead dt 2 lc rgb "#808080"
plot "$work/intervals.dat" using ((\$1+\$2)/2):3:(\$2-\$1) with boxes lc rgb "#9ecae1" title "rendered", \
     f(x) with lines lw 2 lc rgb "#c03030" title "expected: density 1/t on [1000 ms / e, 1000 ms]"
EOF

gnuplot <<EOF
set terminal pngcairo size 900,460 font "$font" noenhanced
set output "docs/velocities.png"
set title "Velocities at the defaults: $count notes from a ${long_seconds} s render"
set xlabel "velocity"
set ylabel "notes"
set xrange [38:130]
set yrange [0:*]
set xtics 40,10,120 add ("46" 46, "127" 127)
set key top right
set grid ytics
set style fill solid 0.6 border rgb "#406080"
set label 1 "none below 46 = 127 / e, truncated" at 47, graph 0.06 left front
plot "$work/velocities.dat" using 1:2:(0.8) with boxes lc rgb "#9ecae1" title "rendered", \
     "$work/velocities.dat" using 1:3 with histeps lw 2 lc rgb "#c03030" title "expected: N ln((v+1)/v), from 127/e = 46.7 up"
EOF

for png in docs/roll-defaults.png docs/roll-dense.png docs/intervals.png docs/velocities.png; do
    [ -s "$png" ] || {
        echo "make-pictures.sh: $png was not written" >&2
        exit 1
    }
    sha256sum "$png"
done
echo "Pictures written to $root/docs"
