#!/usr/bin/env bash
# run.sh BUILD_DIR [SECONDS | -runs=N]: builds the fuzz target with clang and fuzzes the
# command parser and the record writers, starting from every command word of every family.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
limit=${2:-60}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLINKBAY_FUZZ=ON -DBUILD_TESTING=OFF -DLINKBAY_BENCH=OFF >/dev/null
cmake --build "$build" --target parse_command_fuzz make_seed_corpus
corpus="$build/corpus"
rm -rf "$corpus" && mkdir -p "$corpus"
"$build/bin/make_seed_corpus" "$corpus"
if [[ "$limit" == -runs=* ]]; then bound=$limit; else bound=-max_total_time=$limit; fi
echo "fuzzing the command parser ($bound)"
"$build/bin/parse_command_fuzz" "$bound" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
