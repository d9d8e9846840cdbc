#!/usr/bin/env bash
# Pictures of the desktop program on a real X display (Xvfb): the main window after a cycle,
# the new-invoice pop-up and each dialog, as PNG files in OUTDIR.
# Usage: tools/screenshots.sh OUTDIR
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "Uso: tools/screenshots.sh PASTA" >&2; exit 2; }
out=$(realpath -m "$1")
bash tools/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target quelvo-screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
  "$BUILD_DIR/tools/quelvo-screenshots" "$out"
