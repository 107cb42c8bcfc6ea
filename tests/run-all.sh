#!/usr/bin/env bash
# Builds every target and runs every test, the Windows build's under Wine and
# the PowerPC build's under qemu-user; then checks that the builds which must
# agree gave the same bits. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native cross preview fuzz

# Wine makes its prefix at its first start; make it once, before the tests
# start Wine processes in parallel. No .NET or HTML engine is needed.
export WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init
wineserver -w

for preset in native native-single windows ppc; do
  # The preview and its picture tests are part of every native run: a
  # missing OpenImageIO fails here instead of skipping them. The cross
  # builds never look for it.
  case "$preset" in
    native*) cmake --preset "$preset" -DSTRATAMIX_BUILD_PREVIEW=ON ;;
    *) cmake --preset "$preset" ;;
  esac
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

# Every build answered the same seeded cases. The Windows build must give the
# native wide build's bits, the PowerPC build the native single build's.
passed=0
failed=0
same_bits() {
  if python3 tools/compare_answers.py "build/$1/identity/cases.jsonl" \
    "build/$1/identity/answers.jsonl" "build/$2/identity/answers.jsonl"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}
same_bits native windows
same_bits native-single ppc
echo "identity: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
