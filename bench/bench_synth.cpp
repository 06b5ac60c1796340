// What a host pays per Render call on the synth object: a busy pattern (all three voices,
// slides, strong resonance and colour, envelope modulation on both filters) with the echo
// running, in the block sizes hosts use: 64 frames (a low-latency audio callback), 441
// (the renderer's 10 ms buffer) and 4096 (an offline bounce). One iteration is one block,
// so the reported time is the time per block; the counters give samples per second and the
// multiple of real time (44100 samples per second) on one core.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Tables.h"
#include "synth/PatternSynth.h"

using namespace zelvox;

namespace {

// Pattern 1 made busy the way bench_render's rig does it, so the two figures compare.
void MakeBusy(PatternSynth& synth) {
    for (int s = 1; s <= 16; ++s) {
        StepRecord& r = synth.Store.Step(1, s);
        r.BassPlay = 1;
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

void BM_SynthBlock(benchmark::State& state) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    auto synth = std::make_unique<PatternSynth>();
    MakeBusy(*synth);
    synth->Activate();
    synth->SetControl(ControlId::Delay, 3);  // echo time: 3 steps
    synth->SetControl(ControlId::Depth, 60); // echo level, percent
    synth->Start();
    std::vector<int16_t> block(frames);
    int64_t samples = 0;
    for (auto _ : state) {
        synth->Render(block.data(), frames);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
        samples += frames;
    }
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 44100.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SynthBlock)->Arg(64)->Arg(441)->Arg(4096)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace
