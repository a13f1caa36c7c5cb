#!/usr/bin/env bash
# remote-port.sh [--link PATH] N HOST PORT: binds COMn of this machine to an
# instrument that ser2net serves on another one (a raw TCP accepter on
# HOST:PORT). While the connection stands, socat holds a pseudo-terminal
# linked at PATH (default ${XDG_RUNTIME_DIR:-/tmp}/linkbay-comN): hosts reach
# the instrument with LINKBAY_COMn=PATH. A dropped connection takes the link
# away, as unplugging takes a port away; a new connection is tried every
# second and brings it back. Runs until interrupted.
set -euo pipefail

usage() {
  echo "usage: $0 [--link PATH] N HOST PORT" >&2
  echo "  N: the port COM1..COM5 (1..5); HOST PORT: where ser2net accepts connections for the instrument" >&2
  exit 2
}
link=
if [[ ${1:-} == --link ]]; then
  [[ $# -ge 2 && -n $2 ]] || usage
  link=$2
  shift 2
fi
[[ $# -eq 3 ]] || usage
n=$1 host=$2 port=$3
[[ $n =~ ^[1-5]$ ]] || { echo "remote-port.sh: '$n' is not a port number from 1 to 5 (COM1..COM5)" >&2; exit 2; }
[[ $port =~ ^[0-9]{1,5}$ ]] && ((port >= 1 && port <= 65535)) ||
  { echo "remote-port.sh: '$port' is not a TCP port (1..65535)" >&2; exit 2; }
command -v socat >/dev/null || { echo "remote-port.sh: socat is missing; install it: apt-get install socat" >&2; exit 1; }
link=${link:-${XDG_RUNTIME_DIR:-/tmp}/linkbay-com$n}

# The connection first, then the pseudo-terminal: the link exists only while
# the instrument can be reached. Keep-alive probes notice a peer that went
# away silently (about 25 s); nodelay sends each short command at once.
network="TCP:$host:$port,connect-timeout=5,nodelay,keepalive,keepidle=10,keepintvl=5,keepcnt=3"
terminal="PTY,link=$link,raw,echo=0"

socat_pid=
errors=$(mktemp "${TMPDIR:-/tmp}/linkbay-remote-port-XXXXXX")
stop() {
  [[ -n $socat_pid ]] && kill "$socat_pid" 2>/dev/null && wait "$socat_pid" 2>/dev/null
  rm -f "$errors"
  exit 0
}
trap stop INT TERM HUP

echo "COM$n reaches $host:$port: give hosts LINKBAY_COM$n=$link"
state=starting
while :; do
  socat "$network" "$terminal" 2>"$errors" &
  socat_pid=$!
  while kill -0 "$socat_pid" 2>/dev/null && [[ ! -e $link ]]; do sleep 0.1; done
  if [[ -e $link ]]; then
    echo "COM$n connected to $host:$port ($link)"
    state=connected
  fi
  wait "$socat_pid" || true
  socat_pid=
  case $state in
    connected) echo "COM$n lost $host:$port; trying again every second" ;;
    starting)  echo "COM$n cannot reach $host:$port yet ($(tail -n 1 "$errors")); trying every second" ;;
  esac
  state=waiting
  sleep 1
done
