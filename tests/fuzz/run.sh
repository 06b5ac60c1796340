#!/usr/bin/env bash
# Runs every libFuzzer target built in a build folder for a bounded time.
#   bash tests/fuzz/run.sh <build dir> <seconds per target> <findings dir> [target ...]
# Each target starts from its seed corpus (tests/fuzz/corpus/<target>/) and the inputs of
# earlier findings (tests/data/regress/<target>/). New corpus entries go to a scratch folder
# in the build dir, so the checked-in corpus stays as it is. A crash, a sanitizer report, a
# hang (-timeout) or running out of memory ends that target with a non-zero status; its input
# is kept in <findings dir>/<target>/, and the script fails after running every target.
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${1:?build dir}
seconds=${2:?seconds per target}
findings=${3:?findings dir}
shift 3
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$bin" ] && targets+=("$(basename "$bin")")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets built in $build" >&2
  exit 1
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
failed=()
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work="$build/fuzz-work/$name"
  art="$findings/$name"
  mkdir -p "$work" "$art"
  # A parser-level target (<area>_<part>, e.g. pattern_decode) also starts from its area's
  # whole-program seeds and findings (pattern), and takes its area's dictionary.
  area=${name%%_*}
  corpora=("$work")
  for d in "tests/fuzz/corpus/$name" "tests/data/regress/$name" \
           "tests/fuzz/corpus/$area" "tests/data/regress/$area"; do
    [ -d "$d" ] && [[ " ${corpora[*]} " != *" $d "* ]] && corpora+=("$d")
  done
  echo "--- fuzzing $t for $seconds s; findings go to $(cd "$art" && pwd)/"
  log="$work.log"
  dict=()
  if [ -f "tests/fuzz/$name.dict" ]; then dict=(-dict="tests/fuzz/$name.dict")
  elif [ -f "tests/fuzz/$area.dict" ]; then dict=(-dict="tests/fuzz/$area.dict"); fi
  if "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$art/" "${dict[@]}" "${corpora[@]}" >"$log" 2>&1; then
    grep -E '^#[0-9]+.*(DONE|pulse)|stat::number_of_executed_units|stat::peak_rss' "$log" | tail -3
  else
    echo "*** $t FAILED; its log:" >&2
    tail -80 "$log" >&2
    echo "*** inputs kept in $(cd "$art" && pwd)/:" >&2
    ls -l "$art" >&2
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "*** fuzz findings in: ${failed[*]}" >&2
  exit 1
fi
