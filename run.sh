#!/usr/bin/env bash
# Installs what is missing, builds, and runs the headless program.
set -euo pipefail
cd "$(dirname "$0")"
bash tools/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target quelvo-monitor
exec "$BUILD_DIR/src/quelvo-monitor" "$@"
