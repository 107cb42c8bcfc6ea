#!/usr/bin/env bash
# Builds every target and runs every test. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native preview

for preset in native native-single; do
  # The preview and its picture tests are part of every native run: a
  # missing OpenImageIO fails here instead of skipping them.
  cmake --preset "$preset" -DSTRATAMIX_BUILD_PREVIEW=ON
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
