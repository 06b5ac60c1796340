#!/usr/bin/env bash
# Measures the time from starting the program to its splash window being on screen, on a
# virtual X server (Xvfb), without a JACK server and with the private dummy JACK server of
# scripts/with-jack.sh. Each figure is the median of RUNS starts (default 7).
#
# The time is taken from just before the program is started to the moment the splash is
# viewable on the X server: a poll of the server's windows every few milliseconds (works for
# any build). Builds that log the first paint (ZELVOX_STARTUP_LOG) are also timed by that log.
# Usage: bash scripts/measure-startup.sh [PROGRAM] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/app/zelvox}")
runs=${2:-7}

if [ -z "${ZELVOX_MEASURE_INNER:-}" ]; then
  export ZELVOX_MEASURE_INNER=1
  echo "program: $program"
  echo "without a JACK server:"
  (unset JACK_DEFAULT_SERVER; export JACK_NO_START_SERVER=1
   xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$program" "$runs")
  echo "with the dummy JACK server running:"
  xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/with-jack.sh bash "$0" "$program" "$runs"
  exit 0
fi

# Fresh settings for every run (the defaults: JACK when it runs, MIDI off).
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home" ZELVOX_STARTUP_LOG=1 QT_QPA_PLATFORM=xcb

now_ms() { date +%s%3N; }

splash_viewable() { # the splash: a 420x172 window named "Zelvox" that the server shows
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/"Zelvox"/ && /420x172/ {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && return 0
  done
  return 1
}

polled=() logged=()
for ((i = 0; i < runs; i++)); do
  log="$home/log"
  t0=$(date +%s.%N)
  start=$(now_ms)
  "$program" 2>"$log" &
  pid=$!
  seen=""
  while [ -z "$seen" ]; do
    if splash_viewable; then seen=$(now_ms); fi
    if [ $(( $(now_ms) - start )) -gt 10000 ]; then seen="timeout"; fi
  done
  if ! kill "$pid" 2>/dev/null; then
    status=0
    wait "$pid" 2>/dev/null || status=$?
    echo "  run $i: the program ended by itself (exit status $status) before it was stopped:" >&2
    tail -n 5 "$log" >&2
  else
    wait "$pid" 2>/dev/null || true
  fi
  if [ "$seen" = timeout ]; then echo "  run $i: no splash within 10 s" >&2; continue; fi
  polled+=($((seen - start)))
  if painted=$(grep -o 'splash painted at [0-9.]*' "$log" | awk '{print $4}'); [ -n "$painted" ]; then
    logged+=("$(awk -v a="$t0" -v b="$painted" 'BEGIN { printf "%d", (b - a) * 1000 }')")
  fi
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }'; }
echo "  splash viewable (X server poll): median $(median "${polled[@]}") ms over ${#polled[@]} runs [${polled[*]}]"
if [ ${#logged[@]} -gt 0 ]; then
  echo "  splash first painted (program's log): median $(median "${logged[@]}") ms [${logged[*]}]"
fi
