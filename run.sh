#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: Quelvo doing its whole job against
# stand-ins of the Travon site and of the national DF-e service on this machine.
# With a display, the desktop program opens on the demo folder; without one, or with
# --headless, the demo runs on the console with the headless program.
set -euo pipefail
cd "$(dirname "$0")"
headless=0
[ "${1:-}" = "--headless" ] && headless=1
[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && headless=1
bash tools/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "$headless" = 1 ]; then
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target quelvo-monitor quelvo-demo
  exec "$BUILD_DIR/tools/quelvo-demo" "$BUILD_DIR/src/quelvo-monitor" "$BUILD_DIR/demo"
fi
cmake --build "$BUILD_DIR" -j "$(nproc)" --target quelvo quelvo-monitor quelvo-demo
exec "$BUILD_DIR/tools/quelvo-demo" --janela "$BUILD_DIR/src/quelvo" \
  "$BUILD_DIR/src/quelvo-monitor" "$BUILD_DIR/demo"
