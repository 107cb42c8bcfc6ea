#!/usr/bin/env bash
# Builds every target and runs every test. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native

for preset in native native-single; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
