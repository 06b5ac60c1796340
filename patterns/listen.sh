#!/usr/bin/env bash
# Renders every pattern file of the bank as a user would hear it (a song through the arranger,
# a loop for 10 s, as --example does) and prints its length, peak and RMS level, and where
# its energy lies.
# Usage: bash patterns/listen.sh [BUILD_DIR] [OUT_DIR]   (needs sox; keeps the WAVs in OUT_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-$(mktemp -d)}
mkdir -p "$out"
printf '%-22s %8s %9s %9s %10s\n' name seconds peak-dBFS rms-dBFS rough-Hz
for f in patterns/*.zvx; do
  name=$(basename "$f" .zvx)
  # A song: phrase 1 names a pattern (the int32 at byte 27244).
  phrase1=$(od -An -tu4 -j27244 -N4 "$f" | tr -d ' ')
  if [ "$phrase1" != 0 ]; then mode=(--arranger --seconds 600); else mode=(--seconds 10); fi
  "$build/app/zelvox-render" "$f" "${mode[@]}" -o "$out/$name.wav"
  stats=$(sox "$out/$name.wav" -n stat 2>&1)
  len=$(awk '/^Length/ {print $3}' <<<"$stats")
  peak=$(sox "$out/$name.wav" -n stats 2>&1 | awk '/^Pk lev dB/ {print $4}')
  rms=$(sox "$out/$name.wav" -n stats 2>&1 | awk '/^RMS lev dB/ {print $4}')
  freq=$(awk '/^Rough/ {print $3}' <<<"$stats")
  printf '%-22s %8.2f %9s %9s %10s\n' "$name" "$len" "$peak" "$rms" "$freq"
done
