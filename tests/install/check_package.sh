#!/usr/bin/env bash
# check_package.sh BUILD_DIR: makes the Debian package of the built tree,
# compares its contents with the list below and has lintian find no error in
# it. As root, when no linkbay package is installed already, it installs the
# package, runs the installed host and purges the package again.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/linkbay-package-XXXXXX")
installed=0
trap '[[ $installed == 1 ]] && dpkg --purge linkbay >/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
quietly() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$*"; }; }
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

quietly cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work"
deb=$(echo "$work"/linkbay_*.deb)
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
diff <(sort <<<"$expected") - <<<"$contents" || fail "the package's contents differ from the list (< list, > package)"
echo "PASS contents"
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian found errors"; }
echo "PASS lintian: no errors"

if [[ $(id -u) -ne 0 ]] || dpkg-query -W linkbay >/dev/null 2>&1; then
  echo "not installed: that needs root and no linkbay package installed already"
  exit 0
fi
installed=1
quietly dpkg -i "$deb"
# The installed host finds the installed library on its own.
info=$(cd / && env -u LINKBAY_LIBRARY LINKBAY_WINDIR="$work" LINKBAY_IPC_NAMESPACE="package-$$" /usr/bin/linkbay info 2>&1) &&
  grep -q '^name *RS232' <<<"$info" || fail "the installed linkbay info printed:"$'\n'"$info"
quietly dpkg --purge linkbay
installed=0
left=$(cd / && ls -d usr/bin/linkbay "$lib"/liblinkbay* usr/include/linkbay usr/share/doc/linkbay 2>/dev/null || true)
[[ -z $left ]] || fail "left behind after purging: $left"
echo "PASS installed, ran linkbay info, purged"
