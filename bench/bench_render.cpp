// Render-loop throughput on a busy pattern: all three voices, slides, strong resonance and
// colour, envelope modulation on both filters. Reports samples per second and the multiple of
// real time (44100 samples per second) on one core.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "dsp/RateStage.h"
#include "engine/Engine.h"
#include "engine/Tables.h"
#include "sequencer/PatternDefaults.h"

#include "BusyPattern.h"

using namespace zelvox;

namespace {

struct Rig {
    PatternStore Store{};
    int32_t PlayPattern = 1;
    int32_t MasterVolume = 26125;
    Engine E{Store, PlayPattern, MasterVolume};

    Rig() {
        InitPatternStoreDefaults(Store);
        bench::MakeBusyPattern(Store);
        E.SetSeqStepHook(&SeqStep, this);
        E.S.SampleCount = 0;
        E.GetOsc1Params();
    }

    // What the sequencer does at a step boundary, without the display.
    static void SeqStep(void* context) {
        auto* rig = static_cast<Rig*>(context);
        EngineState& s = rig->E.S;
        s.SampleCount = 0;
        s.PrevStep = s.CurStep;
        s.CurStep = s.NextStep;
        s.NextStep = s.CurStep >= 16 ? 1 : s.CurStep + 1;
        rig->E.GetOsc1Params();
    }
};

// One 441-sample buffer per iteration; with `stems`, the three voice stems are written beside
// the mix as zelvox-render --stems has them written.
void RenderBusyPattern(benchmark::State& state, bool stems) {
    auto rig = std::make_unique<Rig>();
    std::vector<int16_t> buffer(441), bass(441), twinT(441), noise(441);
    if (stems) rig->E.SetStemOutput(bass.data(), twinT.data(), noise.data(), 441);
    uint32_t recorded = 0;
    bool more = false;
    int64_t samples = 0;
    for (auto _ : state) {
        rig->E.RenderBuffer(buffer.data(), 882, recorded, more);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::DoNotOptimize(bass.data());
        benchmark::ClobberMemory();
        samples += 441;
    }
    bench::ReportThroughput(state, samples);
}

void BM_RenderBusyPattern(benchmark::State& state) {
    RenderBusyPattern(state, false);
}
void BM_RenderBusyPatternWithStems(benchmark::State& state) {
    RenderBusyPattern(state, true);
}
// zelvox-render --rate 48000: the same buffers converted to 48 kHz as the render converts
// them (x_realtime counts the 44.1 kHz seconds made).
void BM_RenderBusyPatternAt48k(benchmark::State& state) {
    auto rig = std::make_unique<Rig>();
    RateFileConverter converter(48000);
    std::vector<int16_t> buffer(441);
    std::vector<float> in(441), out;
    out.reserve(1 << 16);
    uint32_t recorded = 0;
    bool more = false;
    int64_t samples = 0;
    for (auto _ : state) {
        rig->E.RenderBuffer(buffer.data(), 882, recorded, more);
        for (size_t i = 0; i < 441; ++i) in[i] = float(buffer[i]) / 32768.0f;
        converter.Push(in.data(), 441, out);
        benchmark::DoNotOptimize(out.data());
        out.clear();
        samples += 441;
    }
    bench::ReportThroughput(state, samples);
}
BENCHMARK(BM_RenderBusyPattern)->MinTime(2.0);
BENCHMARK(BM_RenderBusyPatternWithStems)->MinTime(2.0);
BENCHMARK(BM_RenderBusyPatternAt48k)->MinTime(2.0);

} // namespace
