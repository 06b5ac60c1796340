// Real-time playback on the JACK server (not a throughput figure): plays the busy test
// pattern through the whole chain and RtAudio for ZELVOX_SECONDS seconds (default 60) with
// ZELVOX_BUFFERS buffers (default 40) and reports underruns, server xruns and the DSP load
// meter's readings as counters. Run under scripts/with-jack.sh; scripts/measure-realtime.sh
// drives it to find the smallest buffer count that plays without underrun.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "devices/AudioBackend.h"
#include "audio/HeadlessPlay.h"
#include "audio/MMDSPMtr.h"
#include "devices/backends/ScriptedDevice.h"
#include "tests/support/PlaybackRig.h"

using namespace zelvox;

namespace {

int EnvInt(const char* name, int def) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : def;
}

void BM_PlayOnJack(benchmark::State& state) {
    const int buffers = EnvInt("ZELVOX_BUFFERS", 40);
    const int seconds = EnvInt("ZELVOX_SECONDS", 60);
    if (!JackServerRunning()) {
        state.SkipWithError("no JACK server (run under scripts/with-jack.sh)");
        return;
    }
    for (auto _ : state) {
        auto sys = CreateWaveOutSystem({"jack", "", "zelvox_bench"});
        MainThreadQueue queue;
        TMMDSPMeter meter;
        test::PlaybackRig rig(sys.get(), &queue, buffers);
        HeadlessPlayOptions opt;
        opt.MaxBuffers = int64_t{seconds} * 100;
        HeadlessPlayResult r = PlayHeadless(rig.MMWaveOut2, queue, opt);
        if (!r.Ok) state.SkipWithError(r.Error.c_str());
        state.counters["buffers"] = buffers;
        state.counters["played"] = double(r.BuffersPlayed);
        state.counters["underruns"] = double(r.Underruns);
        state.counters["xruns"] = double(r.ServerXruns);
        state.counters["dsp_mean_pct"] = r.MeanDspUsage;
        state.counters["dsp_peak_pct"] = r.PeakDspUsage;
    }
}
BENCHMARK(BM_PlayOnJack)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

namespace {

// The same chain pulled as fast as it goes through a scripted device: the exact share of
// real time one buffer costs (the load meter counts whole milliseconds only).
void BM_ChainOffline(benchmark::State& state) {
    ScriptedWaveOutSystem sys;
    MainThreadQueue queue;
    test::PlaybackRig rig(&sys, &queue, 40);
    rig.MMWaveOut2.Start();
    int64_t buffers = 0;
    for (auto _ : state) {
        sys.Last->Complete(1);
        queue.ProcessPending();
        ++buffers;
    }
    rig.MMWaveOut2.Close();
    state.SetItemsProcessed(buffers * 441);
    state.counters["x_realtime"] =
        benchmark::Counter(double(buffers) * 0.01, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChainOffline);

} // namespace
