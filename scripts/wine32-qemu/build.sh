#!/usr/bin/env bash
# Builds the preload library that lets 32-bit Wine run under qemu-i386 (see wine32-qemu-shim.c)
# into DIR/lib/i386-linux-gnu, with an empty x86_64 twin in DIR/lib/x86_64-linux-gnu, and prints
# the value for QEMU_SET_ENV that preloads it into the 32-bit programs only:
#
#   export QEMU_SET_ENV=$(bash scripts/wine32-qemu/build.sh /tmp/quillmont-wine32-qemu)
#
# Needs gcc with 32-bit support (gcc-multilib). Use it only where 32-bit programs run under qemu.
set -euo pipefail
dir=${1:?usage: build.sh DIR}
src=$(dirname "$0")/wine32-qemu-shim.c
name=libquill-wine32-qemu.so
mkdir -p "$dir/lib/i386-linux-gnu" "$dir/lib/x86_64-linux-gnu"
gcc -m32 -O2 -shared -fPIC -Wall -Wextra -Wpedantic -Werror -o "$dir/lib/i386-linux-gnu/$name" \
    "$src" -ldl >&2
gcc -m64 -O2 -shared -fPIC -Wall -Wextra -Wpedantic -Werror -o "$dir/lib/x86_64-linux-gnu/$name" \
    "$src" >&2
# "$LIB" is expanded by each program's own dynamic loader; it is not a shell variable here.
# shellcheck disable=SC2016
printf 'LD_PRELOAD=%s/$LIB/%s\n' "$dir" "$name"
