// A 3-minute arranged song rendered to a WAV file end to end, as zelvox-render does it:
// start-up, the song set up on the Arranger page, "Play", every buffer through the render
// loop, the echo and the WAV sink into a file on disk. Reports x real time (seconds of audio
// rendered per second of wall time).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/Tables.h"
#include "program/HeadlessProgram.h"

using namespace zelvox;

namespace {

// Three phrases of busy patterns at tempo 140: 100 + 5 + 1 passes of 16 steps, about
// 181.7 s. Every voice plays, and the echo is on.
void SetUpSong(HeadlessProgram& p) {
    for (int pat = 1; pat <= 3; ++pat)
        for (int s = 1; s <= 16; ++s) {
            StepRecord& st = p.Form.Store.Step(pat, s);
            st.BassPlay = 1;
            st.BassSlide = uint8_t(s % 5 == 0);
            st.BassNote = 1 + (s * 7 + pat * 3) % 37;
            st.BassFreq = Note2Freq(st.BassNote);
            st.TwinTPlay = uint8_t(s % 4 == 1);
            st.NoisePlay = uint8_t(s % 2 == 0);
            st.BassCutoff = 40 + s * 3;
            st.BassResonance = 60;
            st.BassEnvMod = 90;
        }
    p.Form.MMWheel16.SetValue(3);
    p.Form.MMWheel17.SetValue(50);
    const int32_t phrases[3][2] = {{1, 100}, {2, 5}, {3, 1}};
    for (int k = 0; k < 3; ++k) {
        p.Form.PhrasePatternSpin(k + 1).SetValue(phrases[k][0]);
        p.Form.PhraseCountSpin(k + 1).SetValue(phrases[k][1]);
    }
}

void BM_RenderSongToWav(benchmark::State& state) {
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("zelvox_bench_song_" + std::to_string(::getpid()) + ".wav"))
                                .string();
    int64_t buffers = 0;
    for (auto _ : state) {
        NoiseSeed = 0;
        HeadlessProgram p;
        SetUpSong(p);
        buffers = p.Render(out, true, 1'000'000);
        benchmark::DoNotOptimize(buffers);
    }
    const double audioSeconds = double(buffers) * 441.0 / 44100.0;
    state.counters["audio_s"] = audioSeconds;
    state.counters["x_realtime"] =
        benchmark::Counter(audioSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * buffers * 441);
    state.SetBytesProcessed(state.iterations() * buffers * 882);
    std::error_code ec;
    std::filesystem::remove(out, ec);
}

} // namespace

BENCHMARK(BM_RenderSongToWav)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
