#!/usr/bin/env bash
# Builds (release preset) and runs the demo: a simulated camera on loopback,
# probed, recorded and its digital I/O switched through the driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target veltrano_cli camsim veltrano
exec build/release/tools/cli/veltrano demo "$@"
