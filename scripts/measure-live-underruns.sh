#!/usr/bin/env bash
# Plays the low-latency JACK output for a while on a private JACK server (dummy back-end,
# real-time pacing) with a small period, while a busy loop keeps the other core occupied, and
# prints what zelvox-render reports: periods played, the server's xruns, the peak load; and
# before it the xruns of the same server with a trivial client, the machine's own floor.
#
# Usage: measure-live-underruns.sh [RENDERER] [SECONDS] [PERIOD] [FILE.zvx]
#   defaults: build/app/zelvox-render, 60, 64, the busy test pattern
set -uo pipefail
renderer=${1:-build/app/zelvox-render}
seconds=${2:-60}
period=${3:-64}
file=${4:-tests/fuzz/corpus/pattern/busy}

export JACK_DEFAULT_SERVER="zelvox_live_$$"
export JACK_NO_START_SERVER=1
log=$(mktemp)
jackd -n "$JACK_DEFAULT_SERVER" -R ${ZELVOX_JACKD_OPTIONS:-} -d dummy -r 44100 -p "$period" -C 0 -P 1 >"$log" 2>&1 &
jackd_pid=$!
hog_pid=
cleanup() {
  [ -n "$hog_pid" ] && kill "$hog_pid" 2>/dev/null
  kill "$jackd_pid" 2>/dev/null
  wait 2>/dev/null
  rm -f "$log"
}
trap cleanup EXIT
if ! jack_wait -w -t 10 >/dev/null; then
  echo "JACK server did not start:" >&2
  cat "$log" >&2
  exit 1
fi
# The other core kept busy (core 1 when there are two; any core otherwise).
cores=$(nproc)
if [ "$cores" -ge 2 ]; then
  taskset -c $((cores - 1)) sh -c 'while :; do :; done' &
else
  sh -c 'while :; do :; done' &
fi
hog_pid=$!
echo "period $period frames ($(awk -v p="$period" 'BEGIN{printf "%.2f", p/44.1}') ms), $seconds s, other core busy"
# The server logs each late period: its own timer woke late ("JackTimedDriver::Process XRun"),
# or a client was not finished, either never woken ("state = Triggered") or still running
# ("state = Running"; only these can be the client's own work). Counts since line $1.
late() {
  tail -n +"$(( $1 + 1 ))" "$log" | awk '
    /JackTimedDriver::Process XRun/ { timer++ }
    /not finished, state = Triggered/ { woken++ }
    /not finished, state = Running/ { running++ }
    END { printf "server timer late %d, client not woken in time %d, client still running %d\n",
                 timer, woken, running }'
}
lines() { wc -l <"$log"; }
# First the machine itself: the same server with only a trivial client (JACK's metronome,
# which computes one short tone) for the same time. Its xruns are the floor this machine
# allows whatever the client does.
if command -v jack_metro >/dev/null; then
  before=$(lines)
  jack_metro -n zelvox-baseline -b 120 >/dev/null 2>&1 &
  metro_pid=$!
  sleep "$seconds"
  kill "$metro_pid" 2>/dev/null
  wait "$metro_pid" 2>/dev/null
  echo "baseline, jack_metro alone for $seconds s: $(late "$before")"
fi
before=$(lines)
"$renderer" "$file" --play --live --seconds "$seconds"
echo "zelvox: $(late "$before")"
