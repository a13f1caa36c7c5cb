#!/usr/bin/env bash
# check_layering.sh [ROOT]: every #include of the library, the simulator, the
# host, the benchmarks, the fuzz targets and the tools points the allowed way;
# lists each one that does not as file:line and fails.
#
# A quoted include is resolved as the build resolves it (the including file's
# folder, then src/, include/, the project root, tests/), so a rule speaks of
# the folder a header really lives in.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"

# Includes of today's tree that point the wrong way and belong to someone
# else to move; reported on every run, not failed. "file include".
tolerated=()

# Operating-system headers: only src/platform/ may include them.
os_header='^(windows|winsock2|ws2tcpip|unistd|termios|fcntl|pthread|dlfcn|poll|semaphore|signal|spawn|pwd|dirent|strings|sched|pty|netdb|mqueue)\.h$|^(sys|asm|linux|netinet|arpa)/'

# Sets target: where a quoted include lands, relative to the root ("" when nowhere).
resolve() {
  local from_dir=$1 name=$2 base
  target=""
  for base in "$from_dir" src include . tests; do
    if [[ -f "$base/$name" ]]; then
      target=${base#./}/$name
      target=${target#./}
      if [[ $target == *..* ]]; then target=$(realpath -m --relative-to=. "$target"); fi
      return
    fi
  done
}

# The family folder of a path under src/drivers/ ("" elsewhere).
family_of() {
  [[ $1 =~ ^src/drivers/([^/]+)/ ]] && echo "${BASH_REMATCH[1]}" || echo ""
}

# Sets why: the reason FILE may not include NAME (landing at target), or "".
quoted_verdict() {
  local file=$1 name=$2 own other
  why=""
  case $file in
    src/cmdlang/*)
      [[ $target =~ ^src/(serial|drivers|addin|platform)/ ]] && why="cmdlang includes ${BASH_REMATCH[1]}/" ;;
    src/serial/*)
      [[ $target =~ ^src/(drivers|addin)/ ]] && why="serial includes ${BASH_REMATCH[1]}/" ;;
    src/drivers/*)
      own=$(family_of "$file")
      other=$(family_of "$target")
      if [[ $target == src/addin/* ]]; then
        why="drivers include addin/"
      elif [[ -n $own && -n $other && $other != "$own" && $other != common ]]; then
        [[ $own == common ]] && why="the common driver layer includes the family folder $other/" ||
          why="family $own includes family $other/"
      fi ;;
    src/platform/*)
      [[ $target =~ ^src/(cmdlang|serial|drivers|addin)/ ]] && why="platform includes ${BASH_REMATCH[1]}/" ;;
    sim/*)
      if [[ $target == src/* || $target == tests/* ]]; then
        why="the simulator includes ${target%%/*}/"
      elif [[ $name =~ ^(src|platform|cmdlang|serial|drivers|addin|tests)/ ]]; then
        why="the simulator includes ${BASH_REMATCH[1]}/"
      fi ;;
    host/*)
      [[ $target == include/linkbay/* || $target == host/* ]] ||
        why="the host includes ${target:-$name} (only include/linkbay/ and host/)" ;;
    bench/* | fuzz/* | tools/*)
      [[ $target == tests/* ]] && why="${file%%/*} includes tests/" ;;
  esac
  return 0
}

is_tolerated() {
  local entry
  for entry in "${tolerated[@]}"; do
    [[ "$entry" == "$1 $2" ]] && return 0
  done
  return 1
}

include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'
failures=0
while IFS= read -r file; do
  line_no=0
  while IFS= read -r line || [[ -n $line ]]; do
    line_no=$((line_no + 1))
    [[ $line =~ $include_line ]] || continue
    name=${BASH_REMATCH[2]}
    if [[ ${BASH_REMATCH[1]} == "<" ]]; then
      shown="<$name>"
      why=""
      [[ $file == src/* && $file != src/platform/* && $name =~ $os_header ]] &&
        why="operating-system header outside src/platform/"
    else
      shown="\"$name\""
      resolve "${file%/*}" "$name"
      quoted_verdict "$file" "$name"
    fi
    [[ -z $why ]] && continue
    if is_tolerated "$file" "$name"; then
      echo "tolerated until moved: $file:$line_no: #include $shown ($why)"
    else
      echo "$file:$line_no: #include $shown: $why" >&2
      failures=$((failures + 1))
    fi
  done <"$file"
done < <(find src sim host bench fuzz tools -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \) | sort)

if ((failures > 0)); then
  echo "$failures include(s) point the wrong way" >&2
  exit 1
fi
echo "every include points the allowed way"
