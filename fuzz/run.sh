#!/usr/bin/env bash
# run.sh BUILD_DIR [SECONDS | -runs=N]: builds the fuzz targets with clang and gives each the
# bound in turn (SECONDS each, so the whole run takes six times as long): the command parser
# and the record writers, starting from every command word of every family, the profile (INI)
# reader, parsing in memory as the profile calls do, starting from a few hand-written texts,
# the simulated KORV, ZEPH and TAVO/PELLUX instruments, each starting from a few scripts of
# driver requests and control lines, and every family's driver fed arbitrary replies through a
# serial line in memory, starting from nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
limit=${2:-60}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLINKBAY_FUZZ=ON -DLINKBAY_WERROR=ON -DBUILD_TESTING=OFF -DLINKBAY_BENCH=OFF >/dev/null
cmake --build "$build" --target parse_command_fuzz make_seed_corpus profile_fuzz make_profile_seeds \
  sim_fuzz zeph_sim_fuzz mmcmd_sim_fuzz make_sim_seeds driver_reply_fuzz
if [[ "$limit" == -runs=* ]]; then bound=$limit; else bound=-max_total_time=$limit; fi

# fuzz TARGET WHAT [SEED_MAKER [ARGUMENTS...]]: a fresh corpus from the seed maker (without
# one, empty), then the bounded run; an input that takes 5 s is a hang.
fuzz() {
  local target=$1 what=$2
  shift 2
  local corpus="$build/corpus/$target"
  rm -rf "$corpus" && mkdir -p "$corpus"
  if (($#)); then "$build/bin/$1" "${@:2}" "$corpus"; fi
  echo "fuzzing $what ($bound)"
  "$build/bin/$target" "$bound" -timeout=5 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
}
fuzz parse_command_fuzz "the command parser" make_seed_corpus
fuzz profile_fuzz "the profile reader" make_profile_seeds
fuzz sim_fuzz "the simulated KORV instrument" make_sim_seeds korv
fuzz zeph_sim_fuzz "the simulated ZEPH instrument" make_sim_seeds zeph
fuzz mmcmd_sim_fuzz "the simulated TAVO/PELLUX instrument" make_sim_seeds tavo
fuzz driver_reply_fuzz "the drivers' reply handling (KORV, ZEPH, TAVO, PELLUX)"
