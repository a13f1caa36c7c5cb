#!/usr/bin/env bash
# check_install.sh BUILD_DIR: installs the built tree into a temporary prefix
# and uses it as a lab would: builds the installed example host with
# find_package (loading and linking the add-in) and with pkg-config
# (linking), then runs each, and the installed linkbay, against the installed
# simulator holding counts set beforehand.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/linkbay-install-XXXXXX")
sim_pid=
trap '[[ -n $sim_pid ]] && kill $sim_pid && wait $sim_pid; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
quietly() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$*"; }; }

prefix=$work/prefix
quietly cmake --install "$build" --prefix "$prefix"
examples=$prefix/share/doc/linkbay/examples
quietly cmake -S "$examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix"
quietly cmake --build "$work/example"
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name linkbay.pc)")
libdir=$(pkg-config --variable=libdir linkbay)
# shellcheck disable=SC2046  # pkg-config's flags are words
quietly c++ -std=c++17 -DLINKBAY_EXAMPLE_LINKED "$examples/list_and_read.cpp" -o "$work/pkgconfig_linked" \
        $(pkg-config --cflags --libs linkbay) -Wl,-rpath,"$libdir"
# Loading hosts open the file linkbay.pc names: the library's soname.
soname=$(objdump -p "$libdir/liblinkbay.so" | awk '$1 == "SONAME" {print $2}')
[[ $soname == liblinkbay.so.* && $soname == "$(basename "$(pkg-config --variable=addin linkbay)")" ]] ||
  fail "the library's soname '$soname' is not the add-in linkbay.pc names"

"$prefix/bin/linkbay-sim" korv --link "$work/com1" --no-pacing >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do grep -q '^control ' "$work/sim.out" && break; sleep 0.1; done
exec 3<>"/dev/tcp/127.0.0.1/$(sed -n 's/^control 127\.0\.0\.1://p' "$work/sim.out")"
grep '^token ' "$work/sim.out" >&3   # a control connection proves first that the starter made it
read -r -t 5 reply <&3 && [[ $reply == ok ]] || fail "the simulator refused its own token: ${reply:-no reply}"
echo "set-counts 10 7 0 4000000 12" >&3
read -r -t 5 reply <&3 && [[ $reply == ok* ]] || fail "the simulator refused the counts: ${reply:-no reply}"
exec 3>&-

export LINKBAY_WINDIR=$work LINKBAY_COM1=$work/com1
printf '[CONFIG]\r\nCOM1=KORV\r\n' >"$work/DETHUB.INI"
spectrum='^spectrum of MCB 97: 4096 channels, 4000019 counts$'
# name | command | a line its output must hold (extended regular expression)
runs=("find_package, loaded|$work/example/list_and_read|$spectrum"
      "find_package, linked|$work/example/list_and_read_linked|$spectrum"
      "pkg-config, linked|$work/pkgconfig_linked|$spectrum"
      "installed linkbay, found on PATH|linkbay list|^97 +1 +COM1 +KORV ")
for run in "${runs[@]}"; do
  IFS='|' read -r name command pattern <<<"$run"
  # A namespace each: no host waits out another's interrogation.
  output=$(cd / && PATH=$prefix/bin:$PATH LINKBAY_IPC_NAMESPACE="install-$$-${name//[^a-z]/}" $command 2>&1) ||
    fail "$name: exit $?: $output"
  grep -Eq "$pattern" <<<"$output" || fail "$name: no line matching '$pattern' in:"$'\n'"$output"
  echo "PASS $name"
done
