#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/deps.sh [group...]   groups: build (default), tools, platforms
set -euo pipefail

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(build)

packages=()
need_i386=0
for group in "${groups[@]}"; do
    case "$group" in
    build)
        # libclang-rt-19-dev: the RealtimeSanitizer runtime that quill check links when present.
        packages+=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang-format
                   libcli11-dev libsndfile1-dev libclang-rt-19-dev python3)
        ;;
    tools)
        # Independent readers and players of what quill writes, and third-party plug-ins and a
        # real host's scanner to test against.
        packages+=(midicsv sox fluidsynth dpf-plugins-vst lsp-plugins-vst zam-plugins ardour)
        ;;
    platforms)
        # 32-bit Linux builds (qemu-user runs their tests where the kernel has no IA-32
        # emulation), the Windows cross compilers, and Wine to run what they build.
        packages+=(g++-multilib libsndfile1-dev:i386 qemu-user g++-mingw-w64-i686
                   g++-mingw-w64-x86-64 wine64 wine32:i386)
        need_i386=1
        ;;
    *)
        echo "deps.sh: unknown group '$group'" >&2
        exit 2
        ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package: the architecture must be known before the package lists are read.
if [ "$need_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
