#!/usr/bin/env bash
# Builds every lane and runs all tests; ends with CTest's summary.
# Lanes: sanitizers, the Windows builds with their Wine run, bounded fuzz runs of the
# command parser and the INI reader, native (last).
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh
root=${LINKBAY_BUILD_ROOT:-build}

run_lane() {
  local lane=$1
  echo "== lane: $lane =="
  scripts/build.sh "$lane"
  ctest --test-dir "$root/$lane" --output-on-failure -j3 --timeout 300
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
# What the system's own libraries keep for the process's life is not ours to fix.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_lane sanitize
# The Wine lane takes its pty holder from the native tree, so that is built first.
scripts/build.sh native
scripts/wine-lane.sh
echo "== lane: fuzz (30 s per target) =="
fuzz/run.sh "$root/fuzz" 30
run_lane native
