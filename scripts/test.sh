#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test suite: the default Linux x86_64
# build (unit, end-to-end, tool and `quill check` suites), then the 32-bit Linux and Windows
# builds, then the sanitizer runs and a bounded fuzzing run.
# Usage: scripts/test.sh [--quick]   (--quick: the default build's suites only)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

bash scripts/deps.sh build tools

jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_WERROR=ON -DQUILL_BUILD_BENCH=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
echo "default build and tests: $((SECONDS - started)) s"
[ "$quick" -eq 1 ] && exit 0

# A report, not a gate: what quill check finds in a few of Debian's third-party plug-ins.
started=$SECONDS
bash scripts/check-plugins.sh --quill build/quill /usr/lib/vst/Kars-vst.so \
    /usr/lib/vst/MVerb-vst.so /usr/lib/vst/Nekobi-vst.so /usr/lib/vst/ZaMaximX2-vst.so || true
echo "third-party check report: $((SECONDS - started)) s"

started=$SECONDS
bash scripts/platforms.sh
echo "platform builds and tests: $((SECONDS - started)) s"

started=$SECONDS
bash scripts/sanitize.sh 120
echo "sanitizer runs and fuzzing: $((SECONDS - started)) s"
