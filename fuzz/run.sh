#!/usr/bin/env bash
# Builds a fuzz preset and runs each fuzzer for a bounded time, starting from
# the checked-in seeds: strata_fuzz on the plug-in, preset_fuzz on the
# preset parser, which stratamix serve runs on text from the network,
# eval_fuzz on stratamix eval's case lines, scene_fuzz on the scene reader,
# and mesh_fuzz on the bake's mesh reader and UV rasteriser (where the build
# has assimp). A finding is kept in build/PRESET/findings/ and fails the run;
# replay it with build/PRESET/bin/strata_fuzz FILE (preset_fuzz for a preset-
# finding, eval_fuzz for an eval- one, scene_fuzz for a scene- one, mesh_fuzz
# for a mesh- one).
#
#   fuzz/run.sh [fuzz|fuzz-single] [SECONDS]      (defaults: fuzz, 60 each)
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-fuzz}
seconds=${2:-60}
build=build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
mkdir -p "$build/findings"

# run TARGET CORPUS PREFIX SEEDS...: one fuzzer for the bounded time, its
# inputs kept in CORPUS, a finding at findings/PREFIX*.
run() {
  local target=$1 corpus=$2 prefix=$3 log=$build/$1.log
  shift 3
  mkdir -p "$corpus"
  echo "fuzz/run.sh: $target ($preset) for ${seconds}s" >&2
  if ! "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$prefix" "$corpus" "$@" \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz/run.sh: $target ($preset) found a failing input in $build/findings/" >&2
    return 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 3 "$log"
}

status=0
run strata_fuzz "$build/corpus" "" fuzz/corpus || status=1
# The example presets are the parser's seeds, with a few of the grammar's
# corners beside them.
run preset_fuzz "$build/preset-corpus" preset- fuzz/preset_corpus preview/presets || status=1
run eval_fuzz "$build/eval-corpus" eval- fuzz/eval_corpus || status=1
# The small scenes of the reader's tests are the scene reader's seeds.
run scene_fuzz "$build/scene-corpus" scene- tests/scene || status=1
# Triangle soups in the target's own reading (fuzz/make_mesh_corpus.py).
if [ -x "$build/bin/mesh_fuzz" ]; then
  run mesh_fuzz "$build/mesh-corpus" mesh- fuzz/mesh_corpus || status=1
fi
exit "$status"
