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
# Each fuzzer runs on one core, so they run side by side, as many at once as
# the machine has cores: every target still gets its whole time.
#
#   fuzz/run.sh [fuzz|fuzz-single] [SECONDS] [TARGET...]
#
# (defaults: fuzz, 60 each, every target; named targets alone are built and
# run.)
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-fuzz}
seconds=${2:-60}
wanted=("${@:3}")
build=build/$preset
cmake --preset "$preset" >/dev/null
if [ "${#wanted[@]}" -gt 0 ]; then
  cmake --build --preset "$preset" --target "${wanted[@]}"
else
  cmake --build --preset "$preset"
fi
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
  { grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 3 "$log"; } |
    sed "s/^/$target: /"
}

# start TARGET CORPUS PREFIX SEEDS...: run in the background once a core is
# free; its exit status lands in $build/TARGET.status.
cores=$(nproc)
started=()
start() {
  if [ "${#wanted[@]}" -gt 0 ] && [[ " ${wanted[*]} " != *" $1 "* ]]; then
    return
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$cores" ]; do
    wait -n || true
  done
  rm -f "$build/$1.status"
  { if run "$@"; then echo 0 >"$build/$1.status"; fi; } &
  started+=("$1")
}

start strata_fuzz "$build/corpus" "" fuzz/corpus
# The example presets are the parser's seeds, with a few of the grammar's
# corners beside them.
start preset_fuzz "$build/preset-corpus" preset- fuzz/preset_corpus preview/presets
start eval_fuzz "$build/eval-corpus" eval- fuzz/eval_corpus
# The small scenes of the reader's tests are the scene reader's seeds.
start scene_fuzz "$build/scene-corpus" scene- tests/scene
# Triangle soups in the target's own reading (fuzz/make_mesh_corpus.py).
if [ -x "$build/bin/mesh_fuzz" ]; then
  start mesh_fuzz "$build/mesh-corpus" mesh- fuzz/mesh_corpus
fi
wait
status=0
for target in "${started[@]}"; do
  # A fuzzer that failed, or was killed before it could say, wrote no 0.
  if [ "$(cat "$build/$target.status" 2>/dev/null)" != 0 ]; then
    status=1
  fi
done
exit "$status"
