#!/usr/bin/env bash
# Builds every target and runs every test. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native fuzz

for preset in native native-single; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done

# A bounded fuzzing run per float model, and the benchmarks once, briefly.
fuzz/run.sh fuzz "${STRATAMIX_FUZZ_SECONDS:-60}"
fuzz/run.sh fuzz-single "${STRATAMIX_FUZZ_SECONDS:-60}"
build/native/bin/strata_bench --benchmark_filter=full --benchmark_min_time=0.01

# The suite under AddressSanitizer with UndefinedBehaviorSanitizer, and under
# ThreadSanitizer (where the thread test looks for races).
for preset in asan tsan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
