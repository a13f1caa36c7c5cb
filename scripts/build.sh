#!/usr/bin/env bash
# build.sh LANE: configures and builds one lane into build/LANE.
#   native     the ordinary build
#   sanitize   address and undefined-behaviour sanitizers
set -euo pipefail
cd "$(dirname "$0")/.."

lane=${1:-native}
case "$lane" in
  native)   extra=() ;;
  sanitize) extra=(-DLINKBAY_SANITIZE=address,undefined -DLINKBAY_BENCH=OFF) ;;
  *) echo "unknown lane '$lane' (native, sanitize)" >&2; exit 2 ;;
esac

cmake -S . -B "build/$lane" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "build/$lane" -- -j"$(nproc)"
