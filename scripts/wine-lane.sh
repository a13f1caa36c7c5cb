#!/usr/bin/env bash
# wine-lane.sh: the Windows lanes. Builds win32 (the shipping linkbay.dll,
# warnings as errors) and win64, checks that the DLL exports exactly
# AAPI_Addin and that its operations take the object in ECX and pop their
# arguments (tests/check_thiscall.py), then runs the win64 test programs
# under Wine in a fresh prefix, with COM1..COM5 linked to pseudo-terminals
# held by a native process.
#
# The test programs are those tests/CMakeLists.txt lists for Windows
# (LINKBAY_WINDOWS_TESTS); the build writes their names to
# windows-test-programs.txt. Arguments after "--" go to every test program
# (e.g. -- --gtest_filter='Misc*').
#
# Directories: $LINKBAY_BUILD_ROOT/{win32,win64,native} (build/...), or each one
# by $LINKBAY_WIN32_DIR, $LINKBAY_WIN64_DIR, $LINKBAY_NATIVE_DIR (a configured
# native tree, for the pty holder). LINKBAY_KEEP_PREFIX=1 keeps the Wine
# prefix for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${LINKBAY_BUILD_ROOT:-build}
win32_dir=${LINKBAY_WIN32_DIR:-$root/win32}
win64_dir=${LINKBAY_WIN64_DIR:-$root/win64}
native_dir=${LINKBAY_NATIVE_DIR:-$root/native}
gtest_args=()
[[ "${1:-}" == "--" ]] && { shift; gtest_args=("$@"); }

wine_bin=/usr/lib/wine/wine64
wineserver_bin=/usr/lib/wine/wineserver
command -v wine64 >/dev/null && wine_bin=$(command -v wine64)
command -v wineserver >/dev/null && wineserver_bin=$(command -v wineserver)

echo "== lane: win32 =="
LINKBAY_BUILD_DIR=$win32_dir scripts/build.sh win32

# The shipping DLL exports one undecorated name and nothing else.
exports=$(i686-w64-mingw32-objdump -p "$win32_dir/bin/linkbay.dll" |
          sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && NR > 1 {print $NF}')
if [[ "$exports" != "AAPI_Addin" ]]; then
  echo "linkbay.dll (i686) must export exactly AAPI_Addin; it exports: ${exports:-nothing}" >&2
  exit 1
fi
echo "linkbay.dll (i686) exports exactly AAPI_Addin"
# No 32-bit Wine runs here: the calling convention of its operations is read
# from the disassembly instead.
tests/check_thiscall.py "$win32_dir/bin/linkbay.dll" include/linkbay/addin.h

echo "== lane: win64 =="
LINKBAY_BUILD_DIR=$win64_dir scripts/build.sh win64
# The pty holder is a native program: configure a native tree if there is none.
[[ -f "$native_dir/CMakeCache.txt" ]] ||
  cmake -S . -B "$native_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$native_dir" --target linkbay-pty-peers linkbay-sim >/dev/null
# The Windows tests start simulated instruments as native programs.
export LINKBAY_SIM_PROGRAM=$(cd "$native_dir/bin" && pwd)/linkbay-sim

echo "== lane: wine =="
lane_dir=$(mktemp -d "${TMPDIR:-/tmp}/linkbay-wine-XXXXXX")
export WINEPREFIX=$lane_dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
peers_pid=
cleanup() {
  [[ -n "${PEERS[1]:-}" ]] && eval "exec ${PEERS[1]}>&-"
  [[ -n "$peers_pid" ]] && wait "$peers_pid" 2>/dev/null || true
  "$wineserver_bin" -k 2>/dev/null || true
  "$wineserver_bin" -w 2>/dev/null || true
  if [[ "${LINKBAY_KEEP_PREFIX:-0}" == 1 ]]; then echo "Wine prefix kept in $WINEPREFIX"; else rm -rf "$lane_dir"; fi
}
trap cleanup EXIT

# The server opens the COM devices for the test programs and so takes a pty
# as its controlling terminal; each simulator that goes away hangs that up,
# and the server answers a hang-up with a dump of its objects. Keep those
# out of the test logs.
mkdir -p "$WINEPREFIX"
"$wineserver_bin" -p >"$lane_dir/wineserver.log" 2>&1
"$wine_bin" wineboot --init >"$lane_dir/wineboot.log" 2>&1 || { cat "$lane_dir/wineboot.log" >&2; exit 1; }

# Pty peers as a native process; COMn of the prefix are their devices. The
# test programs open fresh ones through its control address.
coproc PEERS { exec "$native_dir/bin/linkbay-pty-peers" 5 "$WINEPREFIX"; }
peers_pid=$PEERS_PID
for _ in 1 2 3 4 5; do
  read -r port device <&"${PEERS[0]}"
  ln -sfn "$device" "$WINEPREFIX/dosdevices/${port,,}"
done
read -r word address <&"${PEERS[0]}"
[[ "$word" == control ]] || { echo "linkbay-pty-peers gave no control address" >&2; exit 1; }
export LINKBAY_PTY_PEERS=$address

# The host program loads linkbay.dll as every host does.
if ! (cd "$win64_dir/bin" && "$wine_bin" linkbay.exe info) >"$lane_dir/host.log" 2>&1 ||
   ! grep -q '^name *RS232' "$lane_dir/host.log"; then
  echo "FAIL linkbay.exe info" >&2
  cat "$lane_dir/host.log" >&2
  exit 1
fi
echo "PASS linkbay.exe info (loads linkbay.dll)"

# What a failing test printed, from its RUN line to its FAILED line (at
# most 60 lines each), or the log's end when the program died in a test.
failing_output() {
  awk '/^\[ RUN      \]/ { n = 0; delete kept }
       { if (n < 60) kept[n++] = $0 }
       /^\[       OK \]|^\[  SKIPPED \]/ { n = 0; delete kept }
       /^\[  FAILED  \] .*\(/ { for (i = 0; i < n; ++i) print kept[i]; n = 0; delete kept }
       END { for (i = 0; i < n; ++i) print kept[i] }' "$1"
}

programs=0 failed=0 tests=0 skipped=0
while read -r program; do
  [[ -z "$program" ]] && continue
  programs=$((programs + 1))
  log=$lane_dir/${program%.exe}.log
  start=$SECONDS
  if (cd "$win64_dir/bin" && timeout 600 "$wine_bin" "$program" "${gtest_args[@]}") >"$log" 2>&1; then
    status=PASS
  else
    status=FAIL failed=$((failed + 1))
  fi
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | tail -1)
  skip=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$log" | tail -1)
  tests=$((tests + ${ran:-0})) skipped=$((skipped + ${skip:-0}))
  echo "$status $program (${ran:-?} tests, ${skip:-0} skipped, $((SECONDS - start)) s)"
  [[ $status == FAIL ]] && failing_output "$log" >&2
done <"$win64_dir/windows-test-programs.txt"

echo "Wine lane: $((programs - failed)) of $programs test programs passed ($tests tests, $skipped skipped)"
[[ $failed -eq 0 ]]
