#!/usr/bin/env bash
# ensure-deps.sh [demo|all]: installs the Debian packages that the demo (a
# plain build of the add-in, the host and the simulators) or everything (every
# lane and its tests, the default) needs, when missing. As root it runs apt-get
# itself; otherwise it prints the one command to run.
set -euo pipefail

# The host's libraries: every lane that builds the host needs them.
demo_packages=(cmake ninja-build g++ make libcli11-dev libpugixml-dev libcairo2-dev libedit-dev)
packages=("${demo_packages[@]}")
case "${1:-all}" in
  demo) ;;
  all)  packages+=(pkg-config libgtest-dev libgmock-dev libbenchmark-dev googletest g++-mingw-w64-i686
                   g++-mingw-w64-x86-64 wine64 binutils-mingw-w64-i686 clang libclang-rt-14-dev python3-serial
                   dpkg-dev file lintian ser2net socat) ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with:  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
