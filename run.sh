#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: Quelvo doing its whole job against
# stand-ins of the Travon site and of the national DF-e service on this machine.
set -euo pipefail
cd "$(dirname "$0")"
bash tools/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target quelvo-monitor quelvo-demo
exec "$BUILD_DIR/tools/quelvo-demo" "$BUILD_DIR/src/quelvo-monitor" "$BUILD_DIR/demo"
