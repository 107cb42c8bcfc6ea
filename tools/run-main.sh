#!/usr/bin/env bash
# Builds the plug-in and the stand-in renderer, then runs the main job:
# the contact sheets of every blend mode, colour correction and normal
# layering, rendered through the plug-in into out/.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native preview
cmake --preset native -DSTRATAMIX_BUILD_PREVIEW=ON
cmake --build --preset native
build/native/bin/stratamix preview
