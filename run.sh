#!/usr/bin/env bash
# Builds everything and runs the platform self-check against a simulated serial line.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh
scripts/build.sh native
exec build/native/bin/linkbay-selfcheck
