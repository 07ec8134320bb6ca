#!/usr/bin/env bash
# Builds (default preset) and runs every test: unit, integration, interop, fuzz-smoke.
# Extra arguments go to ctest (e.g. -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default --timeout 600 -j2 "$@"
