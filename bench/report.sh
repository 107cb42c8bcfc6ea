#!/usr/bin/env bash
# Builds both float models, runs the benchmarks and the instruction counts,
# and writes docs/performance.md with its plot (docs/performance.svg).
# Takes about ten minutes; run it on a quiet machine.
#
#   bench/report.sh            # everything
#   REPETITIONS=3 CALLS=100 MIN_TIME=0.05 bench/report.sh   # quicker, noisier
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh native perf
repetitions=${REPETITIONS:-5}
calls=${CALLS:-200}
min_time=${MIN_TIME:-0.1}
out=build/report
mkdir -p "$out"

for preset in native native-single; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target strataMix strata_bench strata_instructions
done

for preset in native native-single; do
  bin=build/$preset/bin
  echo "report.sh: benchmarks, $preset" >&2
  "$bin/strata_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
    --benchmark_min_time="$min_time" \
    --benchmark_out="$out/$preset.json" --benchmark_out_format=json >/dev/null

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

lscpu > "$out/lscpu.txt"
/usr/bin/python3 bench/report.py "$out" docs
gnuplot -e "data='$out/plot.dat'; output='docs/performance.svg'" bench/plot.gp
echo "report.sh: wrote docs/performance.md and docs/performance.svg" >&2
