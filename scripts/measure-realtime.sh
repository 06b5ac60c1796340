#!/usr/bin/env bash
# Measures, on the JACK dummy server (44100 Hz, 441-frame periods):
#  1. the DSP load meter's reading while the busy test pattern plays (idle machine);
#  2. the smallest NumBuffers that plays SECONDS (default 60) with zero underruns while
#     stress-ng keeps the other core busy. Buffer counts are tried from the smallest the
#     engine accepts (2) upwards; the first one with no underrun is reported.
# Usage: bash scripts/measure-realtime.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${ZELVOX_MEASURE_INNER:-}" ]; then
  bash scripts/build.sh build >/dev/null
  export ZELVOX_MEASURE_INNER=1
  exec bash scripts/with-jack.sh bash "$0" "$@"
fi
export ZELVOX_SECONDS=${1:-60}
bench=./build/bench/bench_realtime

run() { # $1 = buffers; prints "underruns xruns dsp_mean dsp_peak"
  ZELVOX_BUFFERS=$1 "$bench" --benchmark_format=json 2>/dev/null | python3 -c '
import json,sys
b=json.load(sys.stdin)["benchmarks"][0]
if b.get("error_occurred"): print("error", b.get("error_message")); sys.exit(0)
print(int(b["underruns"]), int(b["xruns"]), round(b["dsp_mean_pct"],1), int(b["dsp_peak_pct"]))'
}

echo "DSP load, busy pattern, 40 buffers, idle machine, ${ZELVOX_SECONDS} s:"
read -r u x mean peak <<<"$(run 40)"
echo "  DSP Usage mean ${mean}%, peak ${peak}% (underruns ${u}, server xruns ${x})"

stress-ng --cpu 1 --timeout 0 >/dev/null 2>&1 &
STRESS=$!
trap 'kill $STRESS 2>/dev/null; wait $STRESS 2>/dev/null' EXIT
echo "Smallest NumBuffers with no underrun over ${ZELVOX_SECONDS} s, one core kept busy by stress-ng:"
for n in 2 3 4 5 6 8 10 12 16 20 30 40; do
  read -r u x mean peak <<<"$(run "$n")"
  echo "  NumBuffers ${n}: underruns ${u}, server xruns ${x}, DSP mean ${mean}%"
  if [ "$u" = "0" ]; then echo "  => smallest: ${n} (${n}0 ms queued)"; break; fi
done
