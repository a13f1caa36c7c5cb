#!/usr/bin/env bash
# Builds every lane and runs all tests; ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh

run_lane() {
  local lane=$1
  echo "== lane: $lane =="
  scripts/build.sh "$lane"
  ctest --test-dir "build/$lane" --output-on-failure -j3 --timeout 300
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_lane sanitize
run_lane native
