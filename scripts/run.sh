#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRA_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)"
exec build/release/tools/veltra-demo "$@"
