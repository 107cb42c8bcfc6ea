#!/usr/bin/env bash
# Builds every target and runs every test: natively, the Windows builds under
# Wine, the PowerPC build under qemu-user; then checks that the builds which
# must agree gave the same bits. The shipping presets (native, windows, ppc)
# make their release archives as part of their tests (package_build) and
# check them (package_contents). This is what CI runs.
#
# Every step runs even after another failed, so that the closing table tells
# all of what ran; any failure still fails the run. The Windows x86 tests need
# a machine that runs 32-bit x86 programs (tests/probe-x86-32.sh decides;
# STRATAMIX_WINE32=off rules them out). Elsewhere the x86 plug-in is built
# and checked without running it.
#
# The run owns every file it uses and never reads or writes the user's home:
# the set-up (npm's cache) keeps its files in build/run-all/setup-home; every
# step after it runs with HOME and the XDG folders in build/run-all/home,
# made empty, which must still be empty at the end (step "home"). Wine runs
# in a prefix of each Windows build tree's own (cmake/wine-prefix.sh).
set -uo pipefail
cd "$(dirname "$0")/.."

logs=$PWD/build/run-all
# own_home DIR: HOME and the XDG folders in DIR, and nowhere else.
own_home() {
  export HOME=$1 XDG_CONFIG_HOME=$1/.config XDG_CACHE_HOME=$1/.cache \
    XDG_DATA_HOME=$1/.local/share XDG_STATE_HOME=$1/.local/state
  mkdir -p "$HOME"
}
mkdir -p "$logs/runtime"
chmod 700 "$logs/runtime"
export XDG_RUNTIME_DIR=$logs/runtime
unset WINEPREFIX
own_home "$logs/setup-home"

wine32=$(tests/probe-x86-32.sh)
parts=(native cross preview serve bake browser fuzz)
if [ "$wine32" = yes ]; then
  parts+=(wine32)
fi
tools/install-deps.sh "${parts[@]}" || exit 1
setup_seconds=$SECONDS

rm -rf "$logs/home"
own_home "$logs/home"
rows=()
total_passed=0
total_failed=0

# record STEP WHERE PASSED FAILED [NOTE]: one row of the closing table, with
# the time since the step began (began, set by each step as it starts), so
# that the table also says where the run's time went.
began=$SECONDS
record() {
  rows+=("$(printf '%-22s %-24s %6d %6d %6ds  %s' "$1" "$2" "$3" "$4" $((SECONDS - began)) \
    "${5:-}")")
  total_passed=$((total_passed + $3))
  total_failed=$((total_failed + $4))
}

# archive_of PRESET STAMP: the release archive the preset's tests made after
# STAMP, by the name its CPack configuration gives; nothing for a preset that
# ships none.
archive_of() {
  local dir=build/$1 stamp=$2 name file
  [ -f "$dir/CPackConfig.cmake" ] || return 0
  name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
  for file in "$dir/$name".tar.gz "$dir/$name".zip; do
    if [ "$file" -nt "$stamp" ]; then
      echo "made ${file##*/}"
    fi
  done
}

# preset PRESET WHERE [CTEST ARGUMENTS...]: configure, build and test one
# preset, counting its tests from ctest's summary. A build that fails counts
# as one failure. $targets, where set, limits the build to those targets (the
# package_build test still builds the rest, for the archive).
preset() {
  local name=$1 where=$2 log=$logs/$1.log
  shift 2
  began=$SECONDS
  local configure=(cmake --preset "$name")
  # The preview, stratamix serve, the bake and their tests are part of the
  # native run and the sanitizers' runs: a missing OpenImageIO, libmicrohttpd
  # or assimp fails here instead of skipping them. The single float model
  # ships only in the PowerPC build, which has none of them, so its native
  # run leaves them out (half of a native build's compiling). The cross builds
  # never look for them.
  case "$name" in
    native | asan | tsan)
      configure+=(-DSTRATAMIX_BUILD_PREVIEW=ON -DSTRATAMIX_BUILD_SERVE=ON -DSTRATAMIX_BUILD_BAKE=ON)
      ;;
    native-single)
      configure+=(-DSTRATAMIX_BUILD_PREVIEW=OFF -DSTRATAMIX_BUILD_SERVE=OFF -DSTRATAMIX_BUILD_BAKE=OFF)
      ;;
  esac
  local build=(cmake --build --preset "$name")
  if [ -n "${targets:-}" ]; then
    local names
    read -r -a names <<<"$targets"
    build+=(--target "${names[@]}")
  fi
  if ! { "${configure[@]}" && "${build[@]}"; }; then
    record "$name" "$where" 0 1 "build failed"
    return
  fi
  touch "$log.start"
  ctest --preset "$name" -j "$(nproc)" "$@" 2>&1 | tee "$log"
  local summary
  summary=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [[ "$summary" =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    local failed=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    record "$name" "$where" $((total - failed)) "$failed" "$(archive_of "$name" "$log.start")"
  else
    record "$name" "$where" 0 1 "ctest gave no summary"
  fi
}

# step NAME WHERE COMMAND...: one command that passes or fails as a whole.
step() {
  local name=$1 where=$2
  shift 2
  began=$SECONDS
  if "$@"; then
    record "$name" "$where" 1 0
  else
    record "$name" "$where" 0 1
  fi
}

preset native native
preset native-single native
preset windows-x64 wine64
if [ "$wine32" = yes ]; then
  preset windows wine32
else
  # What the static checks read: the plug-in, the host program and the
  # stage built for the x87; and the archive, which package_build makes.
  targets="strataMix stratamix x87_shader" preset windows "checked without running" -L static
fi
preset ppc qemu-ppc

# A bounded fuzzing run per float model, and the benchmarks once, briefly.
# The wide run fuzzes the plug-in, the preset parser, eval's case lines, the
# scene reader and the mesh reader, 30 seconds each; the float model changes
# the plug-in alone (the readers compile the same in both), so the single
# run fuzzes the plug-in.
step fuzz native fuzz/run.sh fuzz "${STRATAMIX_FUZZ_SECONDS:-30}"
step fuzz-single native fuzz/run.sh fuzz-single "${STRATAMIX_FUZZ_SECONDS:-30}" strata_fuzz
step bench native build/native/bin/strata_bench --benchmark_filter=full \
  --benchmark_min_time=0.01

# The suite under AddressSanitizer with UndefinedBehaviorSanitizer, and under
# ThreadSanitizer (where the thread test looks for races).
preset asan native
preset tsan native

# Every build answered the same seeded cases and colour edge cases. The
# Windows builds must give the native wide build's bits, the PowerPC build
# the native single build's; the conformance pack's checker, from the pack
# the native tests made, holds them to it, and to the pack's own answers in
# each float model, as a porter's answers are.
pack=$(ls -d build/native/conformance/strataMix-conformance-*/ 2>/dev/null | head -n 1)
pack=${pack:-build/native/conformance/no-conformance-pack}
# same_bits STEP REFERENCE OTHER CHECKER-ARGUMENTS...: one comparison and its row.
same_bits() {
  local step=$1 reference=$2 other=$3 log=$logs/$1-$3.log
  shift 3
  began=$SECONDS
  python3 conformance/check.py --pack "$pack" "$@" "build/$other/identity/answers.jsonl" | tee "$log"
  local status=${PIPESTATUS[0]} note
  note=$(grep -o -E 'compared [0-9]+ cases.*' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    record "$step" "$reference = $other" 1 0 "$note"
  else
    record "$step" "$reference = $other" 0 1 "${note:-no answers to compare}"
  fi
}
same_bits identity native windows-x64 --reference build/native/identity/answers.jsonl
if [ "$wine32" = yes ]; then
  same_bits identity native windows --reference build/native/identity/answers.jsonl
fi
same_bits identity native-single ppc --reference build/native-single/identity/answers.jsonl
same_bits conformance "pack wide" windows-x64 --model wide
same_bits conformance "pack single" ppc --model single

# Nothing the steps started wrote to their home: a program that did would
# write to the user's home outside this run.
home_untouched() {
  local written
  began=$SECONDS
  written=$(cd "$HOME" && find . -mindepth 1 -maxdepth 3 | sort | head -n 5 | tr '\n' ' ')
  if [ -z "$written" ]; then
    record "home" "every step" 1 0 "$HOME stayed empty"
  else
    record "home" "every step" 0 1 "written to $HOME: $written"
  fi
}
home_untouched

echo
printf '%-22s %-24s %6s %6s %7s  %s\n' "step" "ran under" "passed" "failed" "time" "notes"
printf '%s\n' "${rows[@]}"
if [ "$wine32" != yes ]; then
  echo "The Windows x86 DLL's answers were not run on this machine: it does not run 32-bit x86"
  echo "programs. The x86-64 answers come from mingw's x86-64 pow, not the x87 pow the x86 DLL"
  echo "carries."
fi
echo "$total_passed passed, $total_failed failed, in $((SECONDS / 60)) minutes" \
  "(the set-up $setup_seconds s)"
[ "$total_failed" -eq 0 ]
