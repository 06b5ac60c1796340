#pragma once
// What the render benchmarks share: the busy pattern they play (all three voices, slides,
// strong resonance and colour, envelope modulation on both filters) and how they report
// throughput (samples per second, and the multiple of real time at 44100 samples per second).

#include <benchmark/benchmark.h>

#include <cstdint>

#include "engine/Tables.h"
#include "base/StepRecord.h"

namespace zelvox::bench {

inline void MakeBusyPattern(PatternStore& store, int pattern = 1) {
    for (int s = 1; s <= 16; ++s) {
        StepRecord& r = store.Step(pattern, s);
        r.BassFreq = Note2Freq(1 + (s * 5) % 37);
        r.BassSlide = s % 3 == 0;
        r.BassResonance = 105;
        r.BassCutoff = 40;
        r.BassEnvMod = 100;
        r.BassAmpSwitch = 1;
        r.BassWaveform = s % 2;
        r.TwinTPlay = s % 4 == 1;
        r.TwinTFreq = Note2Freq(13);
        r.TwinTEnvMod = 80;
        r.NoisePlay = s % 2 == 0;
        r.NoiseColour = 120;
        r.NoiseEnvMod = 90;
        r.NoiseNote = 1 + (s * 7) % 37;
    }
}

inline void ReportThroughput(benchmark::State& state, int64_t samples) {
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 44100.0, benchmark::Counter::kIsRate);
}

} // namespace zelvox::bench
