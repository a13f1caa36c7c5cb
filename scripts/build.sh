#!/usr/bin/env bash
# build.sh LANE: configures and builds one lane into $LINKBAY_BUILD_DIR, else
# $LINKBAY_BUILD_ROOT/LANE (build/LANE). Every lane but demo treats warnings as
# errors; a build of one's own (plain cmake) does not.
#   demo       the add-in, the host and the simulators, nothing else (./run.sh)
#   native     the ordinary build with tests and benchmarks
#   sanitize   address and undefined-behaviour sanitizers
#   win32      32-bit Windows (mingw-w64 i686): the shipping linkbay.dll and the host,
#              warnings as errors
#   win64      64-bit Windows (mingw-w64 x86_64): library, host and the test programs
#              that scripts/wine-lane.sh runs under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

lane=${1:-native}
targets=()
case "$lane" in
  demo)     extra=(-DBUILD_TESTING=OFF -DLINKBAY_BENCH=OFF)
            targets=(linkbay linkbay-host linkbay-sim) ;;
  native)   extra=(-DLINKBAY_WERROR=ON) ;;
  sanitize) extra=(-DLINKBAY_WERROR=ON -DLINKBAY_SANITIZE=address,undefined -DLINKBAY_BENCH=OFF) ;;
  win32)    extra=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DLINKBAY_WERROR=ON
                   -DBUILD_TESTING=OFF -DLINKBAY_BENCH=OFF)
            targets=(linkbay linkbay-host) ;;
  win64)    extra=(-DLINKBAY_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake -DLINKBAY_BENCH=OFF) ;;
  *) echo "unknown lane '$lane' (demo, native, sanitize, win32, win64)" >&2; exit 2 ;;
esac

dir=${LINKBAY_BUILD_DIR:-${LINKBAY_BUILD_ROOT:-build}/$lane}
# --no-warn-unused-cli: a configured tree ignores the toolchain file, and says so.
cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "$dir" ${targets[@]+--target "${targets[@]}"} -- -j"$(nproc)"
