#!/usr/bin/env bash
# Builds the plug-in and quill, shows what a host learns from the plug-in, and renders ten
# seconds of its notes to notes.mid.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target quillmont quill
./build/quill info
./build/quill render --seconds 10 --out notes.mid
echo "Wrote $(pwd)/notes.mid"
