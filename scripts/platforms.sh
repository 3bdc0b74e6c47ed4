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
row() { rows+=("$(printf '%-16s %-14s %-6s %-8s %-46s %5s' "$@")"); }

# The pass/fail line of a ctest run, e.g. "215/215 passed".
ctest_summary() {
    sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$1" |
        tail -1 | awk '{ printf "%d/%d passed", $2 - $1, $2 }'
}

# What each failed test printed (ctest keeps it on failure), at most 60 lines a test.
failed_output() {
    awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .*\*\*\*/ { show = 1; lines = 0; print; next }
        /^ *Start +[0-9]+: |^ *[0-9]+\/[0-9]+ Test +#|^[0-9]+% tests passed/ { show = 0 }
        show && lines++ < 60' "$1"
}

# Starts a Wine prefix (first use takes a while) with a persistent server and its system processes
# running, so that each test starts quickly. Started here, with no test's output pipes open: a
# system process that a test started would keep that test's pipes open and ctest waiting.
wine_up() {
    local prefix=$1 arch=$2 loader=$3
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    # The server needs the prefix's directory, and takes its word size from WINEARCH when it
    # makes the prefix.
    mkdir -p "$prefix"
    WINEPREFIX=$prefix WINEARCH=$arch /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 ||
        return 1
    WINEPREFIX=$prefix WINEARCH=$arch "$loader" wineboot --init </dev/null >/dev/null 2>&1 || return 1
    return 0
}
wine_down() { WINEPREFIX=$1 /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; }

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# Does the kernel run 32-bit x86 programs itself (IA-32 emulation on)?
probe=$(mktemp -d)
printf 'int main(void) { return 0; }\n' >"$probe/probe.c"
gcc -m32 "$probe/probe.c" -o "$probe/probe" 2>/dev/null
qemu_handler() { grep -qs 'interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/*; }
ia32_native=0
if "$probe/probe" 2>/dev/null && ! qemu_handler; then ia32_native=1; fi
rm -rf "$probe"

# Without it, 32-bit programs run under qemu-i386. The i686 toolchain file runs the test programs
# that way; for the programs they start in turn (quill in its command-line tests) qemu-i386 is
# registered with the kernel as the handler of 32-bit x86 programs while this script runs.
handler=/proc/sys/fs/binfmt_misc/quillmont-i386
registered=0
register_i386() {
    if [ "$ia32_native" = 1 ] || qemu_handler; then return 0; fi
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
        $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || return 1
    printf '%s' ':quillmont-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' |
        $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null || return 1
    registered=1
}
unregister_i386() {
    if [ "$registered" = 1 ] && [ -e "$handler" ]; then
        echo -1 | $sudo tee "$handler" >/dev/null
    fi
    registered=0
}
trap unregister_i386 EXIT

# 32-bit Wine runs natively where the kernel runs 32-bit programs. Elsewhere it runs under
# qemu-i386 with a preload library that gives it what qemu-user lacks (scripts/wine32-qemu);
# QEMU_SET_ENV hands the library to the 32-bit programs only.
wine32_qemu=0
wine32_runs() {
    [ -x /usr/lib/wine/wine ] || return 1
    [ "$ia32_native" = 1 ] && return 0
    register_i386 || return 1
    local preload
    preload=$(bash scripts/wine32-qemu/build.sh /tmp/quillmont-wine32-qemu) || return 1
    export QEMU_SET_ENV=$preload
    wine32_qemu=1
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
        echo "32-bit Wine cannot start on this machine (wine32:i386 missing, or the kernel runs" \
            "no 32-bit x86 programs and qemu-i386 could not be registered)." >&2
        [ "${QUILL_REQUIRE_WINE32:-0}" = 1 ] && failed=1
    elif [ -n "$prefix" ] && ! wine_up "$prefix" "$arch" "$loader"; then
        tests="FAIL: Wine prefix"
        failed=1
    else
        local test_log=$root/$dir/platforms-ctest.log
        if [ "$preset" = linux-i686 ] && ! register_i386; then
            echo "could not register qemu-i386 for 32-bit programs: tests that start them fail" >&2
        fi
        local filter=()
        if [ "$preset" = linux-i686 ] && [ "$ia32_native" = 0 ]; then
            # Under qemu-i386 every newly loaded library's code is translated again, so resident
            # memory grows across load/unload cycles whatever the library does: quill check's
            # open-close-cycles measurement means nothing there.
            # -E replaces the preset's exclusions (64-bit third-party plug-ins), so repeat them.
            filter=(-E 'ArdourScan\.|HostLibrary\.LoadsThirdPartyPlugins|QuillInfo\.ShowsAThirdPartyInstrument|QuillRender\.ThroughKars|QuillCheck\.(QuillmontPassesEveryCheck|CleanFixturePassesEveryCheck|Quillmont)$')
        fi
        # scripts/wine-run.sh notes here each Windows program it had to start again.
        local retries=$root/$dir/platforms-retries.log
        rm -f "$retries"
        if QUILL_WINE_RETRY_LOG=$retries ctest --preset "$preset" "${filter[@]}" >"$test_log" 2>&1; then
            tests=$(ctest_summary "$test_log")
        else
            failed_output "$test_log"
            grep -E '^\s*[0-9]+ - |tests passed' "$test_log" | tail -30
            tests="FAIL $(ctest_summary "$test_log")"
            failed=1
        fi
        [ -n "$prefix" ] && wine_down "$prefix"
        unset QEMU_SET_ENV
        unregister_i386
        [ "$wine32_qemu" = 1 ] && tests="$tests (qemu-i386)"
        if [ -s "$retries" ]; then
            tests="$tests, $(wc -l <"$retries") restarted"
            echo "Windows programs started again (scripts/wine-run.sh):"
            cat "$retries"
        fi
    fi
    row "$platform" "$file" "$build" "$exports" "$tests" $(($(date +%s) - t0))
}

for preset in "${presets[@]}"; do
    run_preset "$preset"
done

echo
printf '%-16s %-14s %-6s %-8s %-46s %5s\n' platform file build exports tests seconds
for r in "${rows[@]}"; do echo "$r"; done
echo "total: $(($(date +%s) - started)) s"
exit $failed
