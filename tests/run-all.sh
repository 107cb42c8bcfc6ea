#!/usr/bin/env bash
# Builds every target and runs every test, the Windows build's under Wine and
# the PowerPC build's under qemu-user; then checks that the builds which must
# agree gave the same bits. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native cross

# Wine makes its prefix at its first start; make it once, before the tests
# start Wine processes in parallel. No .NET or HTML engine is needed.
export WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init
wineserver -w

for preset in native native-single windows ppc; do
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
