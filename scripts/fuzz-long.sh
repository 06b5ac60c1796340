#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, as many at once as there are cores, and prints
# per target the inputs run, the rate and the findings this run kept.
#   bash scripts/fuzz-long.sh SECONDS [build dir (default build-fuzz)] [target ...]
# The build folder is configured and its fuzzers built first (clang, as scripts/test.sh
# does). Each target runs through tests/fuzz/run.sh: it starts from the corpus of its
# earlier runs in <build dir>/fuzz-work/ (so a second run goes on where the first stopped),
# the seeds and the kept findings; findings go to fuzz-findings/<target>/. The script fails
# when any target found something.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz-long.sh SECONDS [build dir] [target ...]}
build=${2:-build-fuzz}
shift $(($# >= 2 ? 2 : 1))
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELVOX_FUZZ=ON -DZELVOX_GUI=OFF -DZELVOX_BENCH=OFF -DZELVOX_WERROR=ON >/dev/null || exit 1
fi
cmake --build "$build" -j"$(nproc)" --target zelvox_fuzzers >/dev/null || exit 1
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$bin" ] && targets+=("$(basename "$bin")")
  done
fi
jobs=$(nproc)
echo "fuzzing ${#targets[@]} targets for $seconds s each, $jobs at a time" \
     "(about $(( (${#targets[@]} + jobs - 1) / jobs * seconds )) s)"
marker="$build/fuzz-work/.long-run-start"
mkdir -p "$build/fuzz-work" && touch "$marker"
printf '%s\n' "${targets[@]}" |
  xargs -P "$jobs" -I{} sh -c 'bash tests/fuzz/run.sh "$1" "$2" fuzz-findings "$3" >/dev/null 2>&1' \
    _ "$build" "$seconds" {}

status=0
printf '%-22s %14s %10s %9s\n' target runs runs/s findings
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  log="$build/fuzz-work/$name.log"
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" 2>/dev/null | grep -o '[0-9]*$')
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" 2>/dev/null | grep -o '[0-9]*$')
  found=$(find "fuzz-findings/$name" -type f -newer "$marker" 2>/dev/null | wc -l)
  printf '%-22s %14s %10s %9s\n' "$t" "${runs:-?}" "${rate:-?}" "$found"
  if [ "$found" -gt 0 ] || [ -z "$runs" ]; then status=1; fi
done
[ $status -eq 0 ] || echo "*** findings (or a target that did not run): see fuzz-findings/ and $build/fuzz-work/*.log" >&2
exit $status
