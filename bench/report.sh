#!/usr/bin/env bash
# Builds both float models, each also at -O3, runs the benchmarks, the
# instruction counts, stratamix serve under abuse (bench/serve_abuse.py) and
# stratamix bake against the preview (bench/bake_times.py),
# and writes docs/performance.md with its plot
# (docs/performance.svg). The -O3 builds are the reference the presets'
# -O2 build is held against; their runs alternate with the presets' runs,
# round by round, so that a slow spell of the machine falls on both.
# Takes about fifteen minutes; run it on a quiet machine.
#
#   bench/report.sh            # everything
#   ROUNDS=3 CALLS=100 MIN_TIME=0.05 bench/report.sh   # quicker, noisier
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native perf preview serve bake
rounds=${ROUNDS:-5}
calls=${CALLS:-200}
min_time=${MIN_TIME:-0.1}
out=build/report
mkdir -p "$out"

for preset in native native-single; do
  cmake --preset "$preset" -DSTRATAMIX_BUILD_PREVIEW=ON -DSTRATAMIX_BUILD_SERVE=ON >/dev/null
  cmake --build --preset "$preset" --target strataMix strata_bench strata_instructions stratamix
  cmake --preset "$preset" -B "$out/$preset-O3" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O3 -g -DNDEBUG" \
    -DSTRATAMIX_BUILD_TESTS=OFF -DSTRATAMIX_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$out/$preset-O3" --target strataMix strata_bench
done

for preset in native native-single; do
  bin=build/$preset/bin
  for round in $(seq "$rounds"); do
    echo "report.sh: benchmarks, $preset, round $round of $rounds" >&2
    order=(O2 O3)
    [ $((round % 2)) -eq 0 ] && order=(O3 O2)
    for build in "${order[@]}"; do
      bench=$bin/strata_bench
      [ "$build" = O3 ] && bench=$out/$preset-O3/bin/strata_bench
      "$bench" --benchmark_enable_random_interleaving=true --benchmark_min_time="$min_time" \
        --benchmark_out="$out/$preset.$build.$round.json" --benchmark_out_format=json >/dev/null
    done
  done

  echo "report.sh: instruction counts, $preset" >&2
  : > "$out/$preset.instructions.tsv"
  for path in $("$bin/strata_instructions" list); do
    for subject in shader connected floor; do
      collected=$(valgrind --tool=callgrind --toggle-collect='*measured_calls*' \
        --callgrind-out-file=/dev/null "$bin/strata_instructions" "$path" "$subject" "$calls" 2>&1 |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
      printf '%s\t%s\t%s\n' "$path" "$subject" $((collected / calls)) >> "$out/$preset.instructions.tsv"
    done
  done
done

echo "report.sh: stratamix serve under abuse" >&2
/usr/bin/python3 bench/serve_abuse.py --stratamix build/native/bin/stratamix \
  --label "this tree" --json "$out/serve_abuse.json"

echo "report.sh: stratamix bake against the preview and the bare shader" >&2
/usr/bin/python3 bench/bake_times.py --stratamix build/native/bin/stratamix \
  --bench build/native/bin/strata_bench --json "$out/bake_times.json"

lscpu > "$out/lscpu.txt"
/usr/bin/python3 bench/report.py "$out" docs
gnuplot -e "data='$out/plot.dat'; output='docs/performance.svg'" bench/plot.gp
echo "report.sh: wrote docs/performance.md and docs/performance.svg" >&2
