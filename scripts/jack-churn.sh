#!/usr/bin/env bash
# Plays many short runs of zelvox-render through JACK while three other processes open and
# close JACK clients as fast as they can, and counts the runs that hung or failed. libjack
# can hang for good in a client's close when others come and go at that moment; the
# program must neither hang nor fail.
#
# Usage: scripts/jack-churn.sh [--busy] [BUILD] [PLAY_RUNS] [LIVE_RUNS]   (default: build 200 100)
# --busy keeps every core but one busy meanwhile (as a user's other programs or tests running
# beside it do): libjack's hang shows far more often then.
# Starts its own JACK server (scripts/with-jack.sh). Each run is bounded at 20 s; a run that
# needed the bound counts as hung. Exit status 1 when any run hung or failed.
set -uo pipefail
cd "$(dirname "$0")/.."
busy=0
if [ "${1:-}" = --busy ]; then
  busy=1
  shift
fi
build=${1:-build}
play_runs=${2:-200}
live_runs=${3:-100}
if [ -z "${JACK_DEFAULT_SERVER:-}" ]; then
  flags=()
  [ $busy -eq 1 ] && flags=(--busy)
  exec bash scripts/with-jack.sh bash "$0" "${flags[@]}" "$build" "$play_runs" "$live_runs"
fi
render=$PWD/$build/app/zelvox-render
cfg=$(mktemp -d)
mkdir -p "$cfg/zelvox"
printf '[Audio]\nAPI=jack\n' >"$cfg/zelvox/ZLVX3.INI"
churners=()
for _ in 1 2 3; do
  (while :; do jack_lsp >/dev/null 2>&1; done) &
  churners+=($!)
done
if [ $busy -eq 1 ]; then
  cores=$(nproc)
  for ((c = 1; c < (cores > 1 ? cores : 2); c++)); do
    (exec yes >/dev/null) &
    churners+=($!)
  done
fi
trap 'kill "${churners[@]}" 2>/dev/null; rm -rf "$cfg"' EXIT

run() { # label runs args...
  local label=$1 runs=$2 hung=0 failed=0 worst=0 given_up=0
  shift 2
  local t0=$SECONDS
  for ((i = 1; i <= runs; i++)); do
    local s=$SECONDS
    XDG_CONFIG_HOME=$cfg timeout -k 2 20 "$render" "$@" >/dev/null 2>"$cfg/err"
    local rc=$?
    ((SECONDS - s > worst)) && worst=$((SECONDS - s))
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
      hung=$((hung + 1))
      echo "$label run $i: hung" >&2
    elif [ $rc -ne 0 ]; then
      failed=$((failed + 1))
      echo "$label run $i: exit $rc: $(head -c 300 "$cfg/err")" >&2
    fi
    # A close at the end that libjack did not return from within its bound (the run still
    # ends, on time).
    grep -q "did not finish within" "$cfg/err" && given_up=$((given_up + 1))
  done
  echo "$label: $runs runs in $((SECONDS - t0)) s, longest $worst s: $hung hung, $failed failed," \
    "$given_up with a close given up at the end"
  [ $hung -eq 0 ] && [ $failed -eq 0 ]
}

ok=0
run "--play --buffers 50" "$play_runs" --play --buffers 50 || ok=1
run "--play --live --buffers 50" "$live_runs" --play --live --buffers 50 || ok=1
exit $ok
