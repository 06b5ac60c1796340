#!/usr/bin/env bash
# Runs a command with a private JACK server (dummy back-end: real-time pacing, no sound card).
# The server is always stopped afterwards, whatever the command's outcome.
set -uo pipefail
export JACK_DEFAULT_SERVER="zelvox_test_$$"
export JACK_NO_START_SERVER=1
log=$(mktemp)
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 44100 -p 441 -C 0 -P 1 >"$log" 2>&1 &
JACKD=$!
cleanup() { kill "$JACKD" 2>/dev/null; wait "$JACKD" 2>/dev/null; rm -f "$log"; }
trap cleanup EXIT
if ! jack_wait -w -t 10 >/dev/null; then
  echo "JACK server did not start:" >&2
  cat "$log" >&2
  exit 1
fi
"$@"
