#!/usr/bin/env bash
# Bounded fuzzing of the table engine: builds the libFuzzer targets with clang
# (AddressSanitizer and UndefinedBehaviorSanitizer), generates the seed
# corpora, and runs each target for a fixed time. Exits non-zero on any
# finding: a crash, sanitizer report, escaping exception, hang (-timeout),
# memory blow-up (-rss_limit_mb) or single huge allocation (-malloc_limit_mb).
#
# Environment:
#   VELTRA_FUZZ_SECONDS  seconds per target (default 75)
#   VELTRA_FUZZ_JOBS     parallel fuzzing processes per target (default 1)
#   VELTRA_FUZZ_TARGETS  targets to run (default "fuzz_table fuzz_filter fuzz_rtf")
#   VELTRA_FUZZ_BUILD    build folder (default build/fuzz)
#   VELTRA_FUZZ_WORK     corpora and findings (default build/fuzz/work); the
#                        corpora grow across runs that keep this folder
#
# A finding is written to $VELTRA_FUZZ_WORK/findings/<target>/ both as the
# raw input and as hex text (.hex); once the engine is fixed, the .hex file
# goes to fuzz/regressions/<target>/, where the regression test replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${VELTRA_FUZZ_SECONDS:-75}
jobs=${VELTRA_FUZZ_JOBS:-1}
targets=${VELTRA_FUZZ_TARGETS:-"fuzz_table fuzz_filter fuzz_rtf"}
build=${VELTRA_FUZZ_BUILD:-build/fuzz}
work=${VELTRA_FUZZ_WORK:-$build/work}
cores=$(nproc 2>/dev/null || echo 2)

echo "== fuzz build (clang, libFuzzer, address and undefined-behaviour sanitizers)"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DVELTRA_GUI=OFF \
  "-DCMAKE_CXX_FLAGS=-O1 -gline-tables-only" -DVELTRA_WERROR=ON -DVELTRA_FUZZ=ON -DVELTRA_BUILD_TESTS=OFF
cmake --build "$build" -j "$cores" --target fuzz_table fuzz_filter fuzz_rtf veltra-fuzz-seeds

echo "== seed corpora"
rm -rf "$work/seeds"
"$build/fuzz/veltra-fuzz-seeds" "$work/seeds/fuzz_table" "$work/seeds/fuzz_filter" fuzz/filter_seeds.txt \
  "$work/seeds/fuzz_rtf"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in $targets; do
  echo "== $target for ${seconds}s"
  corpus="$work/corpus/$target"
  findings="$work/findings/$target"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512
        -max_len=80000 -print_final_stats=1 -artifact_prefix="$findings/")
  if [ "$jobs" -gt 1 ]; then
    args+=(-fork="$jobs" -ignore_crashes=0)
  fi
  if ! "$build/fuzz/$target" "${args[@]}" "$corpus" "$work/seeds/$target" \
        >"$work/$target.log" 2>&1; then
    status=1
  fi
  tail -n 25 "$work/$target.log"
  for f in "$findings"/*; do
    [ -f "$f" ] || continue
    case "$f" in *.hex) continue ;; esac
    od -An -v -tx1 "$f" | tr -d ' \n' | fold -w 64 > "$f.hex"
    echo "finding: $f (hex: $f.hex)"
    status=1
  done
done
if [ "$status" -ne 0 ]; then
  echo "fuzz: findings above; logs in $work" >&2
fi
exit "$status"
