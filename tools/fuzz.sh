#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs
# them: one target, or every target in turn, each for SECONDS (default 300).
# Usage: tools/fuzz.sh [TARGET] [SECONDS]
# Installs clang when missing. The seed corpora are fuzz/corpus/TARGET (kept in the repository);
# each run works on a copy under build-fuzz/corpus/TARGET, and a crash is written to
# build-fuzz/findings/TARGET/. Not part of ./test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

have_fuzzer() {
  command -v clang++ >/dev/null 2>&1 &&
    echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
      clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /dev/null >/dev/null 2>&1
}
if ! have_fuzzer; then
  echo "Instalando clang (libFuzzer)" >&2
  SUDO=()
  [ "$(id -u)" -eq 0 ] || SUDO=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -q
  "${SUDO[@]}" apt-get install -y -q --no-install-recommends clang libclang-rt-dev ||
    "${SUDO[@]}" apt-get install -y -q --no-install-recommends clang
  have_fuzzer || { echo "clang não compila alvos do libFuzzer" >&2; exit 1; }
fi

ALL=(fuzz_distribution fuzz_gunzip fuzz_settings fuzz_registry fuzz_seenlist fuzz_site_headers
  fuzz_cipher fuzz_win1252 fuzz_rule_files fuzz_refused_pins fuzz_signature)
targets=("${ALL[@]}")
seconds=300
if [ $# -ge 1 ] && [ "$1" != "all" ]; then targets=("$1"); fi
[ $# -ge 2 ] && seconds=$2

FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -g -O1"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DQUELVO_FUZZ=ON -DQUELVO_BUILD_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}" >/dev/null

# The targets' scratch files in memory where the machine has it: some of them flush every input.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

status=0
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/findings/$t"
  cp -n fuzz/corpus/"$t"/* "build-fuzz/corpus/$t/" 2>/dev/null || true
  echo "== $t, $seconds s"
  log="build-fuzz/findings/$t.log"
  if UBSAN_OPTIONS=print_stacktrace=1 "build-fuzz/fuzz/$t" "build-fuzz/corpus/$t" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/$t/" >"$log" 2>&1; then
    echo "   no finding"
  else
    echo "   FINDING: see $log and build-fuzz/findings/$t/"
    status=1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$log" | sed 's/^/   /' || true
  grep -E "^#[0-9]+.*DONE" "$log" | tail -1 | sed 's/^/   /' || true
done
exit $status
