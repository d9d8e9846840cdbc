#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite. Exit status: the tests'.
set -euo pipefail
cd "$(dirname "$0")"
bash tools/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
extra=()
[ -n "${CI:-}" ] && extra+=(-DQUELVO_WERROR=ON)
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
cd "$BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
