#!/usr/bin/env bash
# Installs what is missing, builds the benchmark in an optimised build of its
# own and runs the full benchmark against SQLite (100,000 records by default;
# arguments are passed on, e.g. --n 20000 or --dir FOLDER).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# -O2 rather than CMake's -O3: GCC 12 reports false -Wrestrict warnings at -O3.
cmake -S . -B build/bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVELTRA_BUILD_TESTS=OFF
cmake --build build/bench-release --target veltra-bench -j "$(nproc 2>/dev/null || echo 2)"
exec build/bench-release/bench/veltra-bench "$@"
