#!/usr/bin/env bash
# Builds everything and runs the demo: the host program against simulated instruments.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh demo
scripts/build.sh demo
exec "${LINKBAY_BUILD_DIR:-${LINKBAY_BUILD_ROOT:-build}/demo}/bin/linkbay" demo
