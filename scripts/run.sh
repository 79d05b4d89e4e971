#!/usr/bin/env bash
# Installs what is missing, builds the program and its staging program folder
# (build/release/program: the program, datamast, sys1, sys2, faq.txt, the
# help file and an empty data folder) and starts it from there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRA_BUILD_TESTS=OFF
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" \
  --target veltra-log program_tables program_files
cd build/release/program
exec ./veltra-log "$@"
