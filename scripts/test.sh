#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build tools

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_WERROR=ON -DQUILL_BUILD_BENCH=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
