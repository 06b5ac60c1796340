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

#include "BusyPattern.h"

using namespace zelvox;

namespace {

void BM_SynthBlock(benchmark::State& state) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    auto synth = std::make_unique<PatternSynth>();
    bench::MakeBusyPattern(synth->Store);
    for (int s = 1; s <= 16; ++s)
        synth->Store.Step(1, s).BassPlay = 1;
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
    bench::ReportThroughput(state, samples);
}
BENCHMARK(BM_SynthBlock)->Arg(64)->Arg(441)->Arg(4096)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace
