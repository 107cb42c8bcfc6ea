#!/usr/bin/env bash
# Builds a fuzz preset and fuzzes the plug-in for a bounded time, starting
# from the checked-in seeds. A finding is kept in build/PRESET/findings/ and
# fails the run; replay it with build/PRESET/bin/strata_fuzz FILE.
#
#   fuzz/run.sh [fuzz|fuzz-single] [SECONDS]      (defaults: fuzz, 60)
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-fuzz}
seconds=${2:-60}
build=build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
mkdir -p "$build/corpus" "$build/findings"
log=$build/fuzz.log
echo "fuzz/run.sh: $preset for ${seconds}s" >&2
if ! "$build/bin/strata_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/findings/" "$build/corpus" fuzz/corpus \
    >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "fuzz/run.sh: $preset found a failing input in $build/findings/" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 3 "$log"
