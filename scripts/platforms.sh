#!/usr/bin/env bash
# Builds and tests the plug-in for the platforms beyond the default Linux x86_64 build:
# Linux i686 (-m32), Windows x86_64 and Windows i686 (MinGW-w64, tests under Wine). Each build
# runs its test suites (which include the byte-by-byte record layout test and the export check
# of the module) and ends with a summary table.
#
# Usage: scripts/platforms.sh [linux-i686] [mingw-x86_64] [mingw-i686]   (default: all three)
# Environment: QUILL_REQUIRE_WINE32=1 turns "32-bit Wine cannot run here" from a skip into a
# failure. Build directories: build-i686, build-mingw64, build-mingw32 (see CMakePresets.json).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh build platforms || exit 1

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(linux-i686 mingw-x86_64 mingw-i686)

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64_prefix=/tmp/quillmont-wine-win64
wine32_prefix=/tmp/quillmont-wine-win32

rows=()
failed=0
started=$(date +%s)

# One summary row: platform, file, build, exports, tests, seconds.
row() { rows+=("$(printf '%-16s %-14s %-6s %-8s %-34s %5s' "$@")"); }

# The pass/fail line of a ctest run, e.g. "215/215 passed".
ctest_summary() {
    sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$1" |
        tail -1 | awk '{ printf "%d/%d passed", $2 - $1, $2 }'
}

# Starts a Wine prefix (first use takes a while) with a persistent server and its system processes
# running, so that each test starts quickly. Started here, with no test's output pipes open: a
# system process that a test started would keep that test's pipes open and ctest waiting.
wine_up() {
    local prefix=$1 arch=$2 loader=$3
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || return 1
    WINEPREFIX=$prefix WINEARCH=$arch "$loader" wineboot --init </dev/null >/dev/null 2>&1 || return 1
    return 0
}
wine_down() { WINEPREFIX=$1 /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; }

# Can this machine run 32-bit Wine? It needs the kernel to run 32-bit x86 programs.
wine32_runs() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

run_preset() {
    local preset=$1 platform file dir prefix="" arch="" loader=""
    case "$preset" in
    linux-i686) platform="Linux i686" file=quillmont.so dir=build-i686 ;;
    mingw-x86_64)
        platform="Windows x86_64" file=quillmont.dll dir=build-mingw64
        prefix=$wine64_prefix arch=win64 loader=/usr/lib/wine/wine64
        ;;
    mingw-i686)
        platform="Windows i686" file=quillmont.dll dir=build-mingw32
        prefix=$wine32_prefix arch=win32 loader=/usr/lib/wine/wine
        ;;
    *)
        echo "platforms.sh: unknown configuration '$preset'" >&2
        failed=1
        return
        ;;
    esac
    local t0 log=$root/$dir/platforms.log build=FAIL exports=- tests=- 
    t0=$(date +%s)
    mkdir -p "$dir"
    echo "== $platform ($preset): configure and build"
    if cmake --preset "$preset" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1; then
        build=ok
    else
        tail -40 "$log"
        failed=1
        row "$platform" "$file" "$build" "$exports" "$tests" $(($(date +%s) - t0))
        return
    fi

    if bash scripts/check-exports.sh "$dir/$file"; then exports=ok; else exports=FAIL failed=1; fi

    echo "== $platform ($preset): tests"
    if [ "$preset" = mingw-i686 ] && ! wine32_runs; then
        tests="not run: no 32-bit Wine here"
        echo "32-bit Wine cannot start on this machine (the kernel runs no 32-bit x86" \
            "programs: see 'ia32_emulation' in dmesg)." >&2
        [ "${QUILL_REQUIRE_WINE32:-0}" = 1 ] && failed=1
    elif [ -n "$prefix" ] && ! wine_up "$prefix" "$arch" "$loader"; then
        tests="FAIL: Wine prefix"
        failed=1
    else
        local test_log=$root/$dir/platforms-ctest.log
        if ctest --preset "$preset" >"$test_log" 2>&1; then
            tests=$(ctest_summary "$test_log")
        else
            grep -E '^\s*[0-9]+ - |tests passed' "$test_log" | tail -30
            tests="FAIL $(ctest_summary "$test_log")"
            failed=1
        fi
        [ -n "$prefix" ] && wine_down "$prefix"
    fi
    row "$platform" "$file" "$build" "$exports" "$tests" $(($(date +%s) - t0))
}

for preset in "${presets[@]}"; do
    run_preset "$preset"
done

echo
printf '%-16s %-14s %-6s %-8s %-34s %5s\n' platform file build exports tests seconds
for r in "${rows[@]}"; do echo "$r"; done
echo "total: $(($(date +%s) - started)) s"
exit $failed
