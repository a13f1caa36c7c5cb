#!/usr/bin/env bash
# check_package.sh BUILD_DIR: makes the Debian package of the built tree,
# compares its contents with the list below and has lintian find no error in
# it. As root, and when no linkbay package is installed already, it also
# installs the package, runs the installed host, and purges it again.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/linkbay-package-XXXXXX")
installed=0
cleanup() {
  [[ $installed == 1 ]] && dpkg --purge linkbay >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(echo "$work"/linkbay_*.deb)
[[ -f $deb ]] || fail "cpack made no linkbay_*.deb"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
lib=usr/$(cached CMAKE_INSTALL_LIBDIR)
config=$(cached CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
version=$(dpkg-deb -f "$deb" Version)
expected="usr/bin/linkbay
usr/bin/linkbay-sim
usr/include/linkbay/addin.h
usr/include/linkbay/families.h
usr/include/linkbay/linked.h
$lib/cmake/Linkbay/LinkbayConfig.cmake
$lib/cmake/Linkbay/LinkbayConfigVersion.cmake
$lib/cmake/Linkbay/LinkbayTargets-$config.cmake
$lib/cmake/Linkbay/LinkbayTargets.cmake
$lib/liblinkbay.so
$lib/liblinkbay.so.${version%%.*}
$lib/liblinkbay.so.$version
$lib/pkgconfig/linkbay.pc
usr/share/doc/linkbay/changelog.gz
usr/share/doc/linkbay/copyright
usr/share/doc/linkbay/examples/CMakeLists.txt
usr/share/doc/linkbay/examples/list_and_read.cpp
usr/share/man/man1/linkbay-sim.1.gz
usr/share/man/man1/linkbay.1.gz"
contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | sort)
[[ $contents == "$(sort <<<"$expected")" ]] ||
  fail "package contents differ from the expected list:"$'\n'"$(diff <(sort <<<"$expected") - <<<"$contents")"
echo "PASS contents"

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian found errors"; }
grep -E '^[EW]: ' "$work/lintian.log" || true
echo "PASS lintian (no errors)"

if [[ $(id -u) -ne 0 ]] || dpkg-query -W linkbay >/dev/null 2>&1; then
  echo "not installed: needs root and no linkbay package installed already"
  exit 0
fi
installed=1
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
# The installed host finds the installed library, with no help from the environment.
info=$(cd / && env -u LINKBAY_LIBRARY LINKBAY_WINDIR="$work" LINKBAY_IPC_NAMESPACE="package-$$" /usr/bin/linkbay info 2>&1) || fail "installed linkbay info: $info"
grep -q '^name *RS232' <<<"$info" || fail "installed linkbay info printed:"$'\n'"$info"
dpkg --purge linkbay >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge"; }
installed=0
left=$(cd / && ls -d "usr/bin/linkbay" "$lib"/liblinkbay* usr/include/linkbay usr/share/doc/linkbay 2>/dev/null || true)
[[ -z $left ]] || fail "left behind after purging: $left"
echo "PASS installed, ran linkbay info, purged"
