// What the low-latency JACK output's callback pays per period: LiveSynth::Process on a busy
// pattern with the echo, 64 frames (1.45 ms) with a MIDI controller in every period; and a
// period in which the window's newest state arrives (the 27,372-byte state applied on the
// real-time thread, the dearest period there is: arg 1), and one in which a knob turn of the
// window's arrives as an edit, which is how turns travel (arg 2: All Notes, every step of
// every pattern). The counters give the multiple of real time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "synth/LiveSynth.h"

#include "BusyPattern.h"

using namespace zelvox;

namespace {

std::unique_ptr<PatternSynth> BusyEditor() {
    auto editor = std::make_unique<PatternSynth>();
    bench::MakeBusyPattern(editor->Store);
    for (int s = 1; s <= 16; ++s) editor->Store.Step(1, s).BassPlay = 1;
    editor->SetControl(ControlId::Delay, 3);
    editor->SetControl(ControlId::Depth, 60);
    return editor;
}

void BM_LivePeriod(benchmark::State& state) {
    const bool newState = state.range(0) == 1;
    const bool edit = state.range(0) == 2;
    constexpr uint32_t kFrames = 64;
    auto live = std::make_unique<LiveSynth>();
    CcTable table{};
    table.fill(-1);
    table[5] = 7; // bass Volume
    live->SetControllers(table);
    auto editor = BusyEditor();
    live->Publish(*editor, 0);
    live->Post({LiveCommand::Kind::Start, 0});
    std::vector<int16_t> out(kFrames);
    int64_t samples = 0;
    uint64_t time = 0;
    uint8_t value = 0;
    for (auto _ : state) {
        if (newState) {
            state.PauseTiming(); // the window's side of the hand-over
            editor->SetControl(ControlId::BassCutoff, value % 100);
            live->Publish(*editor, 0);
            state.ResumeTiming();
        } else if (edit) {
            state.PauseTiming();
            SynthEdit e;
            e.What = SynthEdit::Kind::Control;
            e.Id = ControlId::BassCutoff;
            e.Value = value % 100;
            live->Edit(e, 0);
            state.ResumeTiming();
        }
        const LiveMidi cc{kFrames / 2, 3, {0xB0, 7, uint8_t(value++ & 0x7F)}};
        live->Process(out.data(), kFrames, &cc, 1, nullptr, time);
        LiveEvent e;
        while (live->Poll(e)) {
        }
        benchmark::DoNotOptimize(out.data());
        time += kFrames;
        samples += kFrames;
    }
    bench::ReportThroughput(state, samples);
}
BENCHMARK(BM_LivePeriod)->ArgName("handed")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace
