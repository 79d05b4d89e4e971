#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in a
# normal build with warnings as errors, once with AddressSanitizer and
# UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Compiler cache: a run after an earlier one on the same machine recompiles
# only what changed. Paths are taken relative to the checkout, so a clone in
# another folder shares the cache.
export CCACHE_BASEDIR="$PWD"
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

# Line tables only (-g1): enough for a readable backtrace of a failing test,
# and the two full builds compile noticeably faster than with full debug
# information. The sanitizer build is optimised at -O1, as the sanitizers'
# documentation recommends for usable reports.
echo "== build (warnings as errors)"
cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRA_WERROR=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "${launcher[@]}"
cmake --build build/ci -j "$jobs"
echo "== tests"
ctest --test-dir build/ci --output-on-failure -j "$jobs"

echo "== build (address and undefined-behaviour sanitizers)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRA_WERROR=ON -DVELTRA_SANITIZE=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "${launcher[@]}"
cmake --build build/asan -j "$jobs"
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== bounded fuzzing"
VELTRA_FUZZ_SECONDS=${VELTRA_FUZZ_SECONDS:-50} bash scripts/fuzz.sh
