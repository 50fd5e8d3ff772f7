#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on its seed corpus plus fresh inputs for
# a fixed number of runs, under a per-input time limit of 1 s: a slow input fails like a crash.
# Usage: fuzz/run.sh [RUNS]   (default 250000 a target; the growing corpus stays in build/fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-250000}
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLOP_BUILD_FUZZ=ON -DQUILLOP_BUILD_TESTS=OFF -DQUILLOP_BUILD_BENCH=OFF \
  -DQUILLOP_BUILD_APPS=OFF >/dev/null
cmake --build build/fuzz --target index_fuzzer manifest_fuzzer context_fuzzer ticket_fuzzer
for reader in index manifest context ticket; do
  corpus=build/fuzz/corpus/$reader
  mkdir -p "$corpus"
  echo "== fuzz: $reader, $runs runs"
  log=build/fuzz/$reader.log
  if ! (cd build/fuzz && "fuzz/${reader}_fuzzer" -runs="$runs" -timeout=1 -max_len=65536 -seed=1 \
      -dict=../../fuzz/json.dict -print_final_stats=1 "corpus/$reader" "../../fuzz/corpus/$reader") \
      >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  grep -E "^Done|stat::(number_of_executed_units|slowest_unit_time_sec|peak_rss_mb)" "$log"
done
