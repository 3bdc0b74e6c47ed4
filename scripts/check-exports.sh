#!/usr/bin/env bash
# Checks what a built plug-in module exports and needs: exactly the entry names `VSTPluginMain`
# and `main`, and nothing of the C++ runtime from outside (no libstdc++/libgcc_s on Linux; only
# system DLLs on Windows, and a DllMain).
# Usage: scripts/check-exports.sh MODULE...   (quillmont.so or quillmont.dll files)
set -euo pipefail
export LC_ALL=C

[ $# -ge 1 ] || { echo "usage: $0 MODULE..." >&2; exit 2; }

expected=$'VSTPluginMain\nmain'
status=0

fail() {
    echo "FAIL $module: $*" >&2
    status=1
    module_ok=0
}

pass() {
    [ "$module_ok" -eq 1 ] && echo "ok   $module: $*"
    return 0
}

# objdump for a PE file: the host's binutils read both PE flavours when built with them; the
# MinGW ones always do.
pe_objdump() {
    local tool
    for tool in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump objdump; do
        if command -v "$tool" >/dev/null && "$tool" -p "$1" >/dev/null 2>&1; then
            echo "$tool"
            return
        fi
    done
    return 1
}

for module in "$@"; do
    module_ok=1
    if [ ! -f "$module" ]; then
        fail "no such file"
        continue
    fi
    case "$module" in
    *.so)
        # Every defined dynamic symbol: the version script leaves only the entry names.
        exports=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
        [ "$exports" = "$expected" ] || fail "exports $(echo $exports) instead of VSTPluginMain main"
        dynamic=$(readelf -d "$module")
        needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic")
        if grep -Eq '^lib(stdc\+\+|gcc_s)\.so' <<<"$needed"; then
            fail "needs the host's C++ runtime: $(echo $needed)"
        fi
        if grep -q '(TEXTREL)' <<<"$dynamic"; then
            fail "has text relocations"
        fi
        pass "exports $(echo $exports); needs $(echo $needed)"
        ;;
    *.dll)
        tool=$(pe_objdump "$module") || { fail "no objdump reads it"; continue; }
        dump=$("$tool" -p "$module")
        # The names listed in the export table's name pointer table.
        exports=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
        [ "$exports" = "$expected" ] || fail "exports $(echo $exports) instead of VSTPluginMain main"
        imports=$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | sort -u)
        for dll in $imports; do
            case "${dll,,}" in
            kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ucrtbase.dll | api-ms-win-*) ;;
            *) fail "imports $dll, which is not a system DLL" ;;
            esac
        done
        nm_tool="${tool%objdump}nm"
        symbols=$("$nm_tool" "$module" 2>/dev/null || true)
        if ! grep -Eq ' T _?DllMain(@12)?$' <<<"$symbols"; then
            fail "has no DllMain"
        fi
        pass "exports $(echo $exports); imports $(echo $imports)"
        ;;
    *)
        fail "neither .so nor .dll"
        ;;
    esac
done
exit $status
