#!/usr/bin/env bash
# Builds the plug-in and the stand-in renderer, then runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native
cmake --preset native
cmake --build --preset native
build/native/bin/stratamix eval < tools/examples/cases.jsonl
