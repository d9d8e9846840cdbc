#!/usr/bin/env bash
# Builds the benchmarks in Release mode and runs one of them (all when none is named).
# Usage: tools/bench.sh [seenlist_bench ...] [-- benchmark options]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUELVO_BUILD_BENCHMARKS=ON \
  -DQUELVO_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
names=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do names+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
[ ${#names[@]} -eq 0 ] && names=(seenlist_bench dfe_bench walk_bench hostile_bench shell_bench rules_bench update_bench)
# scale_bench and kill_bench take arguments: name them (see README).
for n in "${names[@]}"; do
  echo "== $n"
  "build-bench/bench/$n" "$@"
done
