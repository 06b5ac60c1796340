// The LV2 plugin's run() per 64-frame block, as a host drives it (through lilv), playing a
// busy pattern on the host's grid with the echo on. x_realtime is how many times faster than
// real time the blocks are made (at the host's rate).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BusyPattern.h"
#include "files/PatternFileFormat.h"
#include "support/Lv2Host.h"
#include "synth/PatternSynth.h"

namespace {

void BM_Lv2Run64(benchmark::State& state) {
    // A busy pattern file for the host's file property.
    zelvox::PatternSynth synth;
    zelvox::bench::MakeBusyPattern(synth.Store);
    synth.SetControl(zelvox::ControlId::Delay, 3);
    synth.SetControl(zelvox::ControlId::Depth, 60);
    const std::string file =
        (std::filesystem::temp_directory_path() / "zelvox-bench-lv2.zvx").string();
    zelvox::WriteFileReplacing(file, synth.SaveState());

    zelvox::test::Lv2Host host("https://zelvox.github.io/lv2/zelvox", double(state.range(0)));
    if (!host.Ok()) {
        state.SkipWithError("the plugin did not load (ZELVOX_LV2_BUNDLE?)");
        return;
    }
    host.SendPath(0, "https://zelvox.github.io/lv2/zelvox#patternFile", file);
    host.Run(64);
    host.Run(64);
    host.SendPosition(0, 1.0f, 0, 0.0, 140.0f);
    int64_t frames = 0;
    for (auto _ : state) {
        host.Run(64);
        frames += 64;
    }
    std::remove(file.c_str());
    // In 44.1 kHz frames, so that x_realtime is seconds of sound a second at either rate.
    zelvox::bench::ReportThroughput(state, frames * 44100 / state.range(0));
}
// At the synth's own rate, and at 48 kHz through the rate stage.
BENCHMARK(BM_Lv2Run64)->Arg(44100)->Arg(48000);

} // namespace
