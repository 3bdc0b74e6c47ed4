#!/usr/bin/env bash
# Runs `quill check` on every plug-in given (default: Debian's third-party VST 2 plug-ins in
# /usr/lib/vst) and prints a table of the results. A report only: exits 0 whatever the
# plug-ins do; each full report is kept in the output directory.
#   scripts/check-plugins.sh [--quill PATH] [--out DIR] [--seed N] [PLUGIN.so...]
set -uo pipefail
cd "$(dirname "$0")/.."

quill=build/quill
out=build/check-reports
seed=1
while [ $# -gt 0 ]; do
    case "$1" in
    --quill) quill=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) break ;;
    esac
done
plugins=("$@")
if [ ${#plugins[@]} -eq 0 ]; then
    shopt -s nullglob
    plugins=(/usr/lib/vst/*.so /usr/lib/vst/*/*.so)
fi
mkdir -p "$out"

printf '| %-40s | %4s | %4s | %4s | %4s | %s |\n' plug-in pass warn fail skip "failed checks (warnings)"
printf '|%s|------|------|------|------|%s|\n' "$(printf -- '-%.0s' {1..42})" "------------------------"
for plugin in "${plugins[@]}"; do
    name=${plugin#/usr/lib/vst/}
    report="$out/$(echo "$name" | tr '/' '_').txt"
    timeout 1800 "$quill" check "$plugin" --quick --seed "$seed" -v >"$report" 2>"$report.stderr"
    summary=$(grep -E '^[0-9]+ checks: ' "$report" | tail -1)
    if [ -z "$summary" ]; then
        printf '| %-40s | %4s | %4s | %4s | %4s | %s |\n' "$name" - - - - "quill check did not finish"
        continue
    fi
    read -r pass warn fail skip < <(echo "$summary" |
        sed -E 's/.* ([0-9]+) passed, ([0-9]+) passed with warnings, ([0-9]+) failed, ([0-9]+) skipped.*/\1 \2 \3 \4/')
    failed=$(grep -E '^FAIL  ' "$report" | awk '{print $2}' | paste -sd, -)
    warned=$(grep -E '^WARN  ' "$report" | awk '{print $2}' | paste -sd, -)
    printf '| %-40s | %4s | %4s | %4s | %4s | %s%s |\n' "$name" "$pass" "$warn" "$fail" "$skip" \
        "${failed:--}" "${warned:+ ($warned)}"
done
exit 0
