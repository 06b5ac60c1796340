#!/usr/bin/env bash
# A long soak of the low-latency output on a private JACK server (scripts/with-jack.sh):
#   bash scripts/soak.sh MINUTES [build dir (default build)]
# The window's model plays on the low-latency JACK output (zelvox_soak player) and makes a
# random edit, undo or redo every 50 ms, changing every 20 s how it keeps time (the JACK
# transport, MIDI clock, its own); a MIDI client (zelvox_soak client) turns controllers on
# every channel and sends clock with Start, Stop and Continue into its midi_in; the JACK
# transport is started, stopped and moved every few seconds. At the end the player saves its
# pattern file and compares it with its model.
# Prints resident memory after a 30 s warm-up and at the end (and how much of the growth is
# the undo history, which keeps up to 32 MiB by design), xruns, edits, controllers taken,
# crashes, and the bytes in which the saved file and the model differ; fails on a crash, a
# difference or a growth besides the history of 1 MiB or more.
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: soak.sh MINUTES [build dir]}
build=${2:-build}
if [ "${ZELVOX_SOAK_INNER:-}" != 1 ]; then
  [ -f "$build/build.ninja" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
  cmake --build "$build" -j"$(nproc)" --target zelvox_soak >/dev/null || exit 1
  ZELVOX_SOAK_INNER=1 exec bash scripts/with-jack.sh bash "$0" "$@"
fi

seconds=$((minutes * 60))
soak="$build/tests/zelvox_soak"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
timeout -k 10 $((seconds + 60)) "$soak" player "$seconds" "$work" >"$work/player.out" 2>"$work/player.err" &
player=$!
# The player's MIDI input, once it is there.
for _ in $(seq 1 100); do
  jack_lsp 2>/dev/null | grep -q '^zelvox-soak:midi_in$' && break
  sleep 0.1
done
timeout -k 10 $((seconds + 30)) "$soak" client "$((seconds - 5))" zelvox-soak:midi_in \
  >"$work/client.out" 2>"$work/client.err" &
client=$!
# The transport: start, stop and locate every few seconds while the player runs.
moves=0
while kill -0 "$player" 2>/dev/null; do
  case $((moves % 4)) in
  0) cmd=play ;;
  1) cmd="locate $((RANDOM * 7))" ;;
  2) cmd=stop ;;
  3) cmd="play" ;;
  esac
  echo "$cmd" | timeout -k 2 5 jack_transport >/dev/null 2>&1
  moves=$((moves + 1))
  sleep 3
done
wait "$player"
player_status=$?
wait "$client"
client_status=$?

crashes=0
for s in $player_status $client_status; do
  # 124/137: the time bound; above 128: a signal.
  if [ "$s" -ge 124 ]; then crashes=$((crashes + 1)); fi
done
echo "soak: $minutes min, transport moved $moves times"
cat "$work/player.out"
echo "player exit $player_status, client exit $client_status, crashes $crashes"
[ -s "$work/player.err" ] && { echo "player said:"; tail -5 "$work/player.err"; }
[ -s "$work/client.err" ] && { echo "client said:"; tail -5 "$work/client.err"; }
growth=$(grep -o 'other_growth_kib=-\?[0-9]*' "$work/player.out" | cut -d= -f2)
if [ "$crashes" -gt 0 ] || [ "$player_status" -ne 0 ] || [ "$client_status" -ne 0 ] ||
   [ -z "$growth" ] || [ "$growth" -ge 1024 ]; then
  echo "*** soak failed" >&2
  exit 1
fi
