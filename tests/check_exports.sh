#!/usr/bin/env bash
# check_exports.sh LIBRARY: the add-in library exports one name, AAPI_Addin, and nothing else.
set -euo pipefail
library=$1
exports=$(nm -D --defined-only "$library" | awk 'NF == 3 && $2 ~ /[A-Z]/ {print $3}' | sort)
if [[ "$exports" != "AAPI_Addin" ]]; then
  echo "expected AAPI_Addin as the only export of $library, found:" >&2
  echo "${exports:-(nothing)}" >&2
  exit 1
fi
echo "$library exports AAPI_Addin only"
